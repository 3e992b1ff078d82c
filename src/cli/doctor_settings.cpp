// The doctor's look at Mirk3.ini: present, with a title of its own, every key one the station
// reads, and every number a number. A key misspelt or a "1M" packet size is read silently as
// absent or as its leading digits, which is why the doctor names them.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "cli/doctor_checks.h"
#include "base/text.h"
#include "settings/settings.h"
#include "station/station_settings.h"

namespace mirk3 {
namespace {

enum class Kind { Number, Text };

// The keys the station reads, by section; [Slots] and [Ports] are checked by the settings
// themselves (their problems are told below).
const std::map<std::string, std::map<std::string, Kind>>& KnownKeys() {
  static const std::map<std::string, std::map<std::string, Kind>> KEYS = {
      {"option",
       {{"title", Kind::Text},
        {"factoryresettime", Kind::Number},
        {"packetsize", Kind::Number},
        {"optionenable", Kind::Number},
        {"phoneenable", Kind::Number},
        {"deviceinfo", Kind::Number},
        {"rtnforsprint", Kind::Number},
        {"metadatakey", Kind::Text},
        {"logdir", Kind::Text},
        {"resultsdb", Kind::Text}}},
      {"apoption",
       {{"repartition", Kind::Number},
        {"autoreboot", Kind::Number},
        {"fresettime", Kind::Number},
        {"flashlock", Kind::Number},
        {"nanderase", Kind::Number},
        {"tflash", Kind::Number}}},
      {"cpoption", {{"phoneefsclear", Kind::Number}, {"phonebootupdate", Kind::Number}}},
      {"buttonoption",
       {{"bootloader", Kind::Number},
        {"pda", Kind::Number},
        {"phone", Kind::Number},
        {"csc", Kind::Number},
        {"ums/patch", Kind::Number}}},
      {"d300jig",
       {{"device", Kind::Text},
        {"d300com", Kind::Number},
        {"microcable", Kind::Number},
        {"position1", Kind::Text},
        {"position2", Kind::Text},
        {"position3", Kind::Text},
        {"position4", Kind::Text},
        {"position5", Kind::Text},
        {"position6", Kind::Text},
        {"position7", Kind::Text},
        {"position8", Kind::Text}}},
      {"ports", {{"usbvendorid", Kind::Text}}},
  };
  return KEYS;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// A whole decimal number, as an operator means one: a sign at most, then digits only.
bool IsWholeNumber(const std::string& text) {
  const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

void CheckEntries(const IniFile& file, const std::string& path, std::vector<Finding>& out) {
  const auto& known = KnownKeys();
  std::set<std::string> seen;
  for (const IniFile::Section& section : file.Sections()) {
    const std::string name = Lower(section.name);
    if (!seen.insert(name).second) continue;  // the first of a name is the one read
    if (name == "slots") continue;
    const auto keys = known.find(name);
    if (keys == known.end()) {
      out.push_back({Health::Warn,
                     path + ": section [" + section.name + "] is not one the station reads",
                     "check its spelling against the sample Mirk3.ini"});
      continue;
    }
    for (const IniFile::Entry& entry : section.entries) {
      const auto key = keys->second.find(Lower(entry.key));
      const std::string where = Format("%s:%d: [%s] %s", path.c_str(), entry.line,
                                       section.name.c_str(), entry.key.c_str());
      if (key == keys->second.end()) {
        out.push_back({Health::Warn, where + " is not a key the station reads",
                       "check its spelling against the sample Mirk3.ini"});
      } else if (key->second == Kind::Number && !IsWholeNumber(entry.value)) {
        out.push_back({Health::Warn,
                       Format("%s=%s is not a number: the station reads %d", where.c_str(),
                              entry.value.c_str(), ProfileInteger(entry.value)),
                       "write a whole decimal number"});
      }
    }
  }
}

// Longer than any phone needs to reboot into its factory reset.
constexpr int MAX_SENSIBLE_RESET_SECONDS = 60;

// The log dir must be a dir the station can write, or one it can make.
Finding LogDirFinding(const std::string& dir) {
  const std::string what = "[Option] LogDir " + dir;
  const std::string fix = "name a dir the station's user may write in [Option] LogDir";
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return {Health::Fail, what + " is not a directory", fix};
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
      return {Health::Fail, what + " cannot be written: " + std::strerror(errno), fix};
    }
    return {Health::Ok, what + " is a dir the station can write", ""};
  }
  if (errno != ENOENT) return {Health::Fail, what + ": " + std::strerror(errno), fix};
  // Missing: the station makes it, in the nearest dir above that exists.
  std::error_code error;
  std::filesystem::path above = std::filesystem::absolute(dir, error).parent_path();
  while (above.has_relative_path() && !std::filesystem::exists(above, error)) {
    above = above.parent_path();
  }
  if (!std::filesystem::is_directory(above, error) || ::access(above.c_str(), W_OK | X_OK) != 0) {
    return {Health::Fail, what + " is missing and cannot be made in " + above.string(), fix};
  }
  return {Health::Ok, what + " is missing; the station makes it", ""};
}

}  // namespace

std::vector<Finding> CheckSettingsFile(const DoctorScene& scene) {
  const std::string& path = scene.iniPath;
  const IniFileRead read = IniFile::Read(path);
  if (read.absent) {
    return {{Health::Fail, path + " cannot be read: there is no such file",
             "put Mirk3.ini in the dir the station starts in, or name it with --ini; "
             "/usr/share/doc/mirk3/Mirk3.ini.sample documents every key"}};
  }
  if (!read.file) {
    return {{Health::Fail, path + " cannot be read as a settings file: " + read.problem,
             "name a readable Mirk3.ini (a regular file) with --ini"}};
  }
  const std::optional<IniFile>& file = read.file;
  const Settings settings = LoadSettings(*file);
  std::vector<Finding> findings;
  if (!settings.present) {
    findings.push_back({Health::Fail,
                        path + " has no [Option] Title of its own: the station takes "
                               "it for missing and closes",
                        "write a Title line in [Option]"});
  }
  CheckEntries(*file, path, findings);
  for (const SettingsProblem& problem : settings.problems) {
    findings.push_back({Health::Warn,
                        problem.line > 0
                            ? Format("%s:%d: %s", path.c_str(), problem.line, problem.text.c_str())
                            : path + ": " + problem.text,
                        "see the sample Mirk3.ini"});
  }
  if (findings.empty()) {
    findings.push_back({Health::Ok,
                        path + " is read: title \"" + settings.title +
                            "\", every key known, every number a number",
                        ""});
  }
  return findings;
}

std::vector<Finding> CheckStationSettings(const DoctorScene& scene) {
  const IniFileRead read = IniFile::Read(scene.iniPath);
  if (!read.file) return {};  // said by the settings file's own check
  const Settings settings = LoadSettings(*read.file);
  std::vector<Finding> findings;
  for (const std::string& refusal :
       StationRefusals(settings, scene.iniPath, SettingsCheck{scene.portDir, scene.sysfsRoot, true})) {
    findings.push_back({Health::Fail, refusal + "; the station refuses to start",
                        "keep each port for one slot only, and give the jig its own device"});
  }
  if (settings.factoryResetTime < 0 || settings.factoryResetTime > MAX_SENSIBLE_RESET_SECONDS) {
    findings.push_back(
        {Health::Warn,
         Format("%s: [Option] FactoryResetTime=%d: each phone would wait %d s after its close",
                scene.iniPath.c_str(), settings.factoryResetTime, settings.factoryResetTime),
         Format("a few seconds (0 to %d); the system's default is 1",
                MAX_SENSIBLE_RESET_SECONDS)});
  }
  if (!settings.logDir.empty()) findings.push_back(LogDirFinding(settings.logDir));
  if (findings.empty()) {
    findings.push_back({Health::Ok, "the slot reservations, the jig and the numbers can hold", ""});
  }
  return findings;
}

}  // namespace mirk3
