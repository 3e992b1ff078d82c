#include "app/cli_package_commands.h"

#include "app/station.h"

#include "packages/content_list.h"
#include "packages/md5_trailer.h"
#include "packages/meta_data_key.h"
#include "packages/package_meta_data.h"

namespace mirk3 {
namespace {

constexpr int EXIT_PASSED = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr char MD5_USAGE[] = "usage: mirk3-cli md5 FILE...\n";
constexpr char VERIFY_USAGE[] = "usage: mirk3-cli verify [--meta-key FILE] FILE...\n";

// A log line that belongs to no port, as the station writes it.
void LogLine(std::ostream& out, std::string_view text) {
  out << FormatLogLine(-1, NO_PORT, std::string(text)) << "\n";
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int Usage(std::ostream& err, const char* usage, const std::string& problem) {
  err << "mirk3-cli: " << problem << "\n" << usage;
  return EXIT_USAGE;
}

bool CheckPackageMd5(const std::string& path, std::ostream& out, std::ostream& err) {
  LogLine(out, "Enter CS for MD5..");
  LogLine(out, "Check MD5.. Do not unplug the cable..");
  LogLine(out, "Please wait..");
  if (VerifyMd5Trailer(path, [&out](std::string_view line) { LogLine(out, line); })) {
    LogLine(out, "Checking MD5 finished Sucessfully..");
    LogLine(out, "Leave CS..");
    return true;
  }
  LogLine(out, std::string(PathFileName(path)) + " is invalid.");
  LogLine(out, "End...");
  err << "md5 error! Binary is invalid\n";
  return false;
}

}  // namespace

int RunMd5Command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, MD5_USAGE, "md5 needs at least one file");
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      out << MD5_USAGE;
      return EXIT_PASSED;
    }
    if (arg.starts_with("-")) return Usage(err, MD5_USAGE, "unknown option " + arg);
  }
  bool allPassed = true;
  for (const std::string& path : args) allPassed = CheckPackageMd5(path, out, err) && allPassed;
  return allPassed ? EXIT_PASSED : EXIT_FAILED;
}

int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string keyFile;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (IsHelp(args[i])) {
      out << VERIFY_USAGE;
      return EXIT_PASSED;
    }
    if (args[i] == "--meta-key") {
      if (i + 1 == args.size()) return Usage(err, VERIFY_USAGE, "--meta-key needs a file");
      keyFile = args[++i];
    } else if (args[i].starts_with("-")) {
      return Usage(err, VERIFY_USAGE, "unknown option " + args[i]);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) return Usage(err, VERIFY_USAGE, "verify needs at least one file");

  std::string keyText = BuiltInMetaDataKey();
  std::string error;
  if (!keyFile.empty() && !LoadMetaDataKeyFile(keyFile, keyText, error)) {
    err << "mirk3-cli: " << error << "\n";
    return EXIT_FAILED;
  }

  // As in a download: once a package fails, the later ones are not checked.
  char packageModel[PACKAGE_MODEL_SIZE] = {};
  bool metaDataValid = true;
  for (const std::string& path : files) {
    if (!metaDataValid) {
      out << path << ": not checked (an earlier package failed)\n";
    } else if (VerifyPackageFileMetaData(path, keyText, packageModel)) {
      out << path << ": meta-data verified\n";
    } else {
      metaDataValid = false;
      out << path << ": meta-data INVALID\n";
    }
  }
  out << "model: " << (packageModel[0] ? packageModel : "(none)") << "\n";
  return metaDataValid ? EXIT_PASSED : EXIT_FAILED;
}

}  // namespace mirk3
