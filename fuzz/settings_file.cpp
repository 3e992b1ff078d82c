// Fuzzes the settings reader with any bytes as Mirk3.ini. Whatever the file holds, every value
// read is at most 259 characters and made of the file's own bytes, every number is what a
// C library reads from the same text (held at the 32-bit limits), every flag is 0 or 1, and
// every slot reservation names a slot the window has.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"
#include "settings/control_enables.h"
#include "settings/settings.h"
#include "support/fuzz_target.h"

namespace {

using mirk3::fuzz::Require;

size_t Characters(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

int32_t ReferenceInteger(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

bool IsFlag(int32_t value) { return value == 0 || value == 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const mirk3::IniFile file = mirk3::IniFile::Parse(text);
  for (const auto& section : file.Sections()) {
    Require(text.find(section.name) != std::string_view::npos, "a section name not in the file");
    for (const auto& entry : section.entries) {
      Require(text.find(entry.key) != std::string_view::npos, "a key not in the file");
      Require(text.find(entry.value) != std::string_view::npos, "a value not in the file");
      const std::string read = file.String(section.name, entry.key, "");
      Require(Characters(read) <= mirk3::PROFILE_VALUE_CHARS, "a value longer than 259 characters");
      // Embedded NUL bytes end the C library's reading; the reader stops at them as at any
      // other byte that is not a digit.
      Require(mirk3::ProfileInteger(read) == ReferenceInteger(read), "a number read otherwise");
    }
  }

  const mirk3::Settings s = mirk3::LoadSettings(file);
  Require(s.present == (file.String("Option", "Title", mirk3::ABSENT_TITLE) !=
                        mirk3::ABSENT_TITLE),
          "the presence test disagrees with the Title");
  const mirk3::RunFlags& o = s.options;
  for (int32_t flag : {o.RePartition, o.AutoReboot, o.FResetTime, o.deviceInfo, o.PhoneEFSClear,
                       o.PhoneBootUpdate, o.FlashLock, o.NandErase, o.TFlash, o.rtnForSprint,
                       s.optionEnable, s.phoneEnable, s.deviceInfoEnable, s.rtnForSprintEnable}) {
    Require(IsFlag(flag), "a flag other than 0 or 1");
  }
  Require(o.deviceInfo == 0, "the Device Info box read from the file");
  for (const auto& [slot, reservation] : s.slots) {
    Require(slot >= 0 && slot < 56, "a reservation of a slot the window does not have");
    Require(reservation.port >= 0 || !reservation.usbPath.empty(), "a reservation of nothing");
  }
  mirk3::ControlEnables enables;
  enables.ApplySettings(s);
  enables.SetBusy(true, s);
  enables.SetBusy(false, s);
  Require(enables.Enabled(mirk3::CONTROL_START), "Start disabled after a busy spell");
  return 0;
}
