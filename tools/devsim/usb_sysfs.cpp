#include "devsim/usb_sysfs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <vector>

#include "base/text.h"
#include "devsim/atomic_link.h"

namespace mirk3::devsim {
namespace {

namespace fs = std::filesystem;

// Where the host controller of every emulated bus sits; any fixed place does.
constexpr char CONTROLLER[] = "devices/pci0000:00/0000:00:14.0";
// A modem's tty belongs to its first interface.
constexpr char INTERFACE[] = ":1.0";

// "usb1/1-1/1-1.3" for "1-1.3": the bus, then each hub in the chain, then the device.
std::string DeviceRelative(const std::string& usbPath) {
  const size_t dash = usbPath.find('-');
  std::string rel = std::string(CONTROLLER) + "/usb" + usbPath.substr(0, dash);
  for (size_t dot = usbPath.find('.', dash); dot != std::string::npos;
       dot = usbPath.find('.', dot + 1)) {
    rel += "/" + usbPath.substr(0, dot);
  }
  return rel + "/" + usbPath;
}

bool WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

bool ValidUsbPath(const std::string& usbPath) {
  static const std::regex pattern("[1-9][0-9]{0,2}-[1-9][0-9]{0,3}(\\.[1-9][0-9]{0,3})*");
  return std::regex_match(usbPath, pattern);
}

UsbSysfsDevice::UsbSysfsDevice(std::string root, std::string portName, std::string usbPath,
                               UsbId id)
    : root_(std::move(root)),
      portName_(std::move(portName)),
      usbPath_(std::move(usbPath)),
      id_(id),
      deviceRel_(DeviceRelative(usbPath_)) {}

bool UsbSysfsDevice::Write(std::string* error) {
  const fs::path device = DeviceDir();
  const std::string interface = usbPath_ + INTERFACE;
  const fs::path tty = device / interface / "tty" / portName_;
  const size_t dash = usbPath_.find('-');
  std::error_code ec;
  fs::remove_all(device, ec);
  fs::create_directories(tty, ec);
  fs::create_directories(fs::path(root_) / "class/tty", ec);
  fs::create_symlink("../../../" + interface, tty / "device", ec);
  const bool written = !ec && WriteText(device / "idVendor", Format("%04x\n", id_.vendor)) &&
                       WriteText(device / "idProduct", Format("%04x\n", id_.product)) &&
                       WriteText(device / "busnum", usbPath_.substr(0, dash) + "\n") &&
                       WriteText(device / "devpath", usbPath_.substr(dash + 1) + "\n");
  if (!written) {
    *error = "cannot write the USB device " + device.string() + (ec ? ": " + ec.message() : "");
    fs::remove_all(device, ec);
    return false;
  }
  if (!PublishLink(ClassTarget(), ClassEntry(), error)) {
    fs::remove_all(device, ec);
    return false;
  }
  written_ = true;
  return true;
}

std::string UsbSysfsDevice::ClassEntry() const { return root_ + "/class/tty/" + portName_; }

std::string UsbSysfsDevice::ClassTarget() const {
  return "../../" + deviceRel_ + "/" + usbPath_ + INTERFACE + "/tty/" + portName_;
}

void UsbSysfsDevice::Remove() {
  if (!written_) return;
  written_ = false;
  WithdrawLink(ClassTarget(), ClassEntry());
  std::error_code ec;
  fs::remove_all(DeviceDir(), ec);
}

void PruneSysfsTree(const std::string& root) {
  std::error_code ec;
  std::vector<fs::path> dirs;
  // Only the parts the farm writes: whatever else is under the root is not ours.
  for (const char* part : {"devices", "class"}) {
    dirs.push_back(fs::path(root) / part);
    for (auto it = fs::recursive_directory_iterator(dirs.back(), ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) dirs.push_back(it->path());
    }
  }
  // Deepest first, so that a hub whose devices are gone goes after them.
  std::sort(dirs.begin(), dirs.end(),
            [](const fs::path& a, const fs::path& b) { return a.string() > b.string(); });
  for (const fs::path& dir : dirs) {
    if (fs::is_empty(dir, ec)) fs::remove(dir, ec);
  }
}

}  // namespace mirk3::devsim
