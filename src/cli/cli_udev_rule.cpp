#include "cli/cli_udev_rule.h"

#include <CLI/CLI.hpp>
#include <charconv>

#include "station/station_settings.h"
#include "base/text.h"
#include "cmdline/command_line.h"

namespace mirk3 {
namespace {

constexpr char WHO[] = "mirk3-cli udev-rule";

// A USB id as lsusb and sysfs write it ("04e8"), "0x" allowed.
std::optional<uint16_t> ParseUsbId(std::string text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || text.size() > 4 || error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return static_cast<uint16_t>(value);
}

// What the devices are matched by; udev requires every ATTRS of a rule to match one parent,
// and DRIVERS=="usb" makes that parent the USB device itself (not its interface), so that %b
// below is the USB device's kernel name.
std::string DeviceMatch(const UdevRuleChoice& choice) {
  std::string match = "SUBSYSTEMS==\"usb\", DRIVERS==\"usb\"";
  if (choice.vendor) match += Format(", ATTRS{idVendor}==\"%04x\"", *choice.vendor);
  if (choice.product) match += Format(", ATTRS{idProduct}==\"%04x\"", *choice.product);
  return match;
}

std::string Matched(const UdevRuleChoice& choice) {
  if (!choice.vendor) return "every USB CDC-ACM port (ttyACM<n>)";
  return Format("the ttyACM ports of USB devices %04x:%s", *choice.vendor,
                choice.product ? Format("%04x", *choice.product).c_str() : "*");
}

}  // namespace

bool IsGroupName(const std::string& name) {
  if (name.empty() || name.size() > 32) return false;
  if (!(name[0] == '_' || (name[0] >= 'a' && name[0] <= 'z'))) return false;
  return name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") == std::string::npos;
}

std::string UdevRule(const UdevRuleChoice& c) {
  std::string text;
  text += "# Mirk3 flashing station: phones in download mode, seen as USB CDC-ACM serial ports.\n";
  text += "# Made by `mirk3-cli udev-rule`. It takes " + Matched(c) + ":\n";
  text += "#  - group " + c.group + ", mode 0660: the operator must be in group " + c.group +
          " (sudo usermod -aG " + c.group + " $USER, then log in again);\n";
  text += "#  - ID_MM_DEVICE_IGNORE=1: ModemManager does not probe them;\n";
  text += Format("#  - a link per physical USB port: /dev/%s/usb-<USB path> (/dev/%s/usb-1-1.3).\n",
                 UDEV_LINK_DIR, UDEV_LINK_DIR);
  text += Format(
      "# Install as /etc/udev/rules.d/%s, then: sudo udevadm control --reload && sudo udevadm "
      "trigger --subsystem-match=tty\n",
      UDEV_RULE_FILE);
  text += "ACTION==\"remove\", GOTO=\"mirk3_end\"\n";
  text += "SUBSYSTEM!=\"tty\", GOTO=\"mirk3_end\"\n";
  text += "KERNEL!=\"ttyACM[0-9]*\", GOTO=\"mirk3_end\"\n";
  text += DeviceMatch(c) + ", GROUP=\"" + c.group +
          "\", MODE=\"0660\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", SYMLINK+=\"" + UDEV_LINK_DIR +
          "/usb-%b\"\n";
  text += "LABEL=\"mirk3_end\"\n";
  return text;
}

int RunUdevRuleCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const auto app = NewCommandLine(
      WHO,
      "Prints the udev rule that gives the phones' ports to a group the operator is in, keeps "
      "ModemManager away from them and links each under the physical USB port it hangs on. "
      "Without --vendor, the [Ports] UsbVendorId of the settings; without either, every USB "
      "ACM port.");
  std::string iniPath, vendor, product;
  UdevRuleChoice choice;
  AddSettingsOption(*app, iniPath);
  app->add_option("--vendor", vendor, "the phones' USB vendor id (hex, as lsusb shows it)")
      ->type_name("VID");
  app->add_option("--product", product, "only this USB product id (hex; needs a vendor)")
      ->type_name("PID");
  app->add_option("--group", choice.group, "the group that gets the ports")->type_name("GROUP");
  if (const auto status = ParseCommandLine(*app, args, out, err)) return *status;

  if (!vendor.empty() && !(choice.vendor = ParseUsbId(vendor))) {
    return ReportUsageMistake(*app, err, "--vendor " + vendor + " is not a hex USB id");
  }
  if (!product.empty() && !(choice.product = ParseUsbId(product))) {
    return ReportUsageMistake(*app, err, "--product " + product + " is not a hex USB id");
  }
  if (!IsGroupName(choice.group)) {
    return ReportUsageMistake(*app, err, "--group " + choice.group + " is not a group name");
  }
  if (!choice.vendor) {
    const std::optional<Settings> settings = LoadStationSettings(iniPath, err, WHO, SettingsCheck{"", "", false});
    if (!settings) return USAGE_ERROR_STATUS;
    choice.vendor = settings->usbVendorId;
  }
  if (choice.product && !choice.vendor) {
    return ReportUsageMistake(*app, err,
                              "--product needs a vendor (--vendor or [Ports] UsbVendorId)");
  }
  out << UdevRule(choice);
  return 0;
}

}  // namespace mirk3
