// The station's options as Mirk3.ini gives them: the title line, the option check boxes' first
// states, which package buttons and option boxes can be used, the two numbers every worker
// gets, and this project's own keys (meta-data key, log dir, results database, the scan's USB
// vendor, slot reservations). Read once at start-up; the station never writes the file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/run_flags.h"
#include "settings/ini_file.h"

namespace mirk3 {

inline constexpr char SETTINGS_FILE[] = "./Mirk3.ini";
// The title a file without its own is taken for absent by.
inline constexpr char ABSENT_TITLE[] = "Mirk3. [Android + Vexa]";
inline constexpr char DEFAULT_TITLE[] = "[Android + Vexa]";
inline constexpr char SETTINGS_MISSING_MESSAGE[] = "Mirk3.ini 파일이 없습니다";

// The option check boxes' states when the file sets none: Auto Reboot and F. Reset Time on.
inline constexpr RunFlags DEFAULT_OPTION_STATES = {.AutoReboot = 1, .FResetTime = 1};

// What Reset puts back: the eight boxes the file sets return to their loaded states in
// `defaults`, RTN for Sprint goes off, and Device Info stays as it is in `current`.
RunFlags ResetOptionStates(const RunFlags& defaults, const RunFlags& current);

// A slot kept for one port: by its number (ttyACM7) or by the physical USB port it hangs on
// ("1-1.3", the kernel's name of the USB device).
struct SlotReservation {
  int port = -1;
  std::string usbPath;
};

// A line of the file the station could not use, for the operator.
struct SettingsProblem {
  int line = 0;
  std::string text;
};

struct Settings {
  bool present = false;  // the presence test: a file with a Title of its own
  std::string title = DEFAULT_TITLE;
  int32_t factoryResetTime = 1;
  int32_t packetSize = DEFAULT_RUN_PACKET_SIZE;
  RunFlags options = DEFAULT_OPTION_STATES;  // the option check boxes, 0 or 1 each
  // Package buttons and their check boxes, in slot order BL, AP, CP, CSC, UMS.
  int32_t enablePackage[5] = {1, 1, 1, 1, 1};
  int32_t optionEnable = 1;
  int32_t phoneEnable = 0;
  int32_t deviceInfoEnable = 0;
  int32_t rtnForSprintEnable = 0;
  RunFlags resetDefaults = DEFAULT_OPTION_STATES;  // the loaded states

  std::string metaDataKey;               // [Option] MetaDataKey: a public key file
  std::string logDir;                    // [Option] LogDir
  std::string resultsDb;                 // [Option] ResultsDb: a file or postgresql:// URL
  std::optional<uint16_t> usbVendorId;   // [Ports] UsbVendorId
  std::map<int, SlotReservation> slots;  // [Slots] N=, by slot number
  std::map<int, int> slotLines;          // the line of the file each of them is on
  IniFile file;                          // the whole file, for the sections read elsewhere
  std::vector<SettingsProblem> problems;
};

// Reads every key in the order the window always has, into the options it holds. A missing
// file gives every default and `present` false (then the station shows
// SETTINGS_MISSING_MESSAGE and closes).
Settings LoadSettings(const IniFile& file);
// The same, from a path; an unreadable file counts as missing.
Settings LoadSettingsFile(const std::string& path);

}  // namespace mirk3
