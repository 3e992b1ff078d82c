#include "settings/settings.h"

#include <charconv>
#include <string>

namespace mirk3 {
namespace {

// The boxes the file sets, in the order they are read. Device Info and RTN for Sprint are not
// among them: they start off.
struct OptionKey {
  const char* section;
  const char* key;
  int32_t RunFlags::*flag;
};
constexpr OptionKey OPTION_KEYS[] = {{"APOption", "RePartition", &RunFlags::RePartition},
                                     {"APOption", "AutoReboot", &RunFlags::AutoReboot},
                                     {"APOption", "FResetTime", &RunFlags::FResetTime},
                                     {"CPOption", "PhoneEFSClear", &RunFlags::PhoneEFSClear},
                                     {"CPOption", "PhoneBootUpdate", &RunFlags::PhoneBootUpdate},
                                     {"APOption", "FlashLock", &RunFlags::FlashLock},
                                     {"APOption", "NandErase", &RunFlags::NandErase},
                                     {"APOption", "TFlash", &RunFlags::TFlash}};

void ReadOptionBoxes(const IniFile& f, Settings& s) {
  for (const OptionKey& option : OPTION_KEYS) {
    const char* fallback = DEFAULT_OPTION_STATES.*option.flag ? "1" : "0";
    s.options.*option.flag = f.Integer(option.section, option.key, fallback) != 0;
  }
}

void ReadEnableFlags(const IniFile& f, Settings& s) {
  static const char* const KEYS[5] = {"Bootloader", "PDA", "Phone", "CSC", "UMS/PATCH"};
  for (int slot = 0; slot < 5; ++slot) {
    s.enablePackage[slot] = f.Integer("ButtonOption", KEYS[slot], "1") != 0;
  }
  s.optionEnable = f.Integer("Option", "OptionEnable", "1") != 0;
  s.phoneEnable = f.Integer("Option", "PhoneEnable", "0") != 0;
  s.deviceInfoEnable = f.Integer("Option", "DeviceInfo", "0") != 0;
  s.rtnForSprintEnable = f.Integer("Option", "RtnForSprint", "0") != 0;
}

std::optional<uint16_t> HexId(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A USB device's kernel name: bus, a dash, then port numbers joined by dots ("1-1.3").
bool IsUsbPath(std::string_view text) {
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos || !AllDigits(text.substr(0, dash))) return false;
  std::string_view rest = text.substr(dash + 1);
  while (true) {
    const size_t dot = rest.find('.');
    if (!AllDigits(rest.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    rest.remove_prefix(dot + 1);
  }
}

void ReadOurKeys(const IniFile& f, Settings& s) {
  s.metaDataKey = f.String("Option", "MetaDataKey", "");
  s.logDir = f.String("Option", "LogDir", "");
  s.resultsDb = f.String("Option", "ResultsDb", "");
  const std::string vendor = f.String("Ports", "UsbVendorId", "");
  if (!vendor.empty()) {
    s.usbVendorId = HexId(vendor);
    if (!s.usbVendorId) {
      s.problems.push_back({0, "[Ports] UsbVendorId=" + vendor + " is not a hex USB vendor id"});
    }
  }
  const IniFile::Section* slots = f.FindSection("Slots");
  if (!slots) return;
  for (const IniFile::Entry& entry : slots->entries) {
    const int32_t slot = AllDigits(entry.key) ? ProfileInteger(entry.key) : -1;
    SlotReservation reservation;
    if (AllDigits(entry.value) && entry.value.size() <= 6) {
      reservation.port = ProfileInteger(entry.value);
    } else if (IsUsbPath(entry.value)) {
      reservation.usbPath = entry.value;
    }
    const bool usable =
        slot >= 0 && slot < 56 && (reservation.port >= 0 || !reservation.usbPath.empty());
    if (!usable) {
      s.problems.push_back({entry.line, "[Slots] " + entry.key + "=" + entry.value +
                                            " is not a slot 0-55 and a port number or USB path"});
    } else if (s.slots.emplace(slot, reservation).second) {
      s.slotLines[slot] = entry.line;
    } else {
      s.problems.push_back({entry.line, "[Slots] " + entry.key + " is given twice; the first holds"});
    }
  }
}

}  // namespace

Settings LoadSettings(const IniFile& f) {
  Settings s;
  s.present = f.String("Option", "Title", ABSENT_TITLE) != ABSENT_TITLE;
  s.title = f.String("Option", "Title", DEFAULT_TITLE);
  s.factoryResetTime = f.Integer("Option", "FactoryResetTime", "1");
  s.packetSize = f.Integer("Option", "PacketSize", std::to_string(DEFAULT_RUN_PACKET_SIZE));
  ReadOptionBoxes(f, s);
  ReadEnableFlags(f, s);
  s.resetDefaults = s.options;
  ReadOurKeys(f, s);
  s.file = f;
  return s;
}

RunFlags ResetOptionStates(const RunFlags& defaults, const RunFlags& current) {
  RunFlags back = defaults;
  back.rtnForSprint = 0;
  back.deviceInfo = current.deviceInfo;
  return back;
}

Settings LoadSettingsFile(const std::string& path) {
  const std::optional<IniFile> file = IniFile::Load(path);
  return LoadSettings(file ? *file : IniFile());
}

}  // namespace mirk3
