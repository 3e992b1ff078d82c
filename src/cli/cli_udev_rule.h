// `mirk3-cli udev-rule`: the udev rule that gets a fresh Linux desktop ready for phones. The
// ports of matching USB devices (USB CDC-ACM, ttyACM<n>) go to a group the operator is in, mode
// 0660, are left alone by ModemManager (whose AT probes would land in the middle of a boot
// loader's handshake), and get a link named after the physical USB port they hang on. The rule
// the package installs is this command's output with no vendor: every ACM port.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace mirk3 {

// The file name udev reads the rule under; a file of that name in /etc/udev/rules.d takes the
// place of the packaged one.
inline constexpr char UDEV_RULE_FILE[] = "60-mirk3.rules";
inline constexpr char UDEV_DEFAULT_GROUP[] = "plugdev";
// Where the stable links appear: /dev/mirk3/usb-<USB path> ("usb-1-1.3").
inline constexpr char UDEV_LINK_DIR[] = "mirk3";

struct UdevRuleChoice {
  std::optional<uint16_t> vendor;   // none: every USB ACM port
  std::optional<uint16_t> product;  // only with a vendor
  std::string group = UDEV_DEFAULT_GROUP;
};

// True for a name a group can have (and a rule can hold without quoting): a lower-case letter
// or '_', then letters, digits, '_' or '-', at most 32.
bool IsGroupName(const std::string& name);

// The rule file's text.
std::string UdevRule(const UdevRuleChoice& choice);

// Exit 0, 2 for a usage error (a bad id or group, a product without a vendor, settings that
// cannot be read).
int RunUdevRuleCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirk3
