// Which physical USB port and device a ttyACM port belongs to, from sysfs: the USB device's
// kernel name ("1-1.3": bus 1, hub port 1, port 3), which stays the same for a cable whatever
// ttyACM number the kernel hands out, and its vendor and product ids. A pseudo-terminal has
// none. Sysfs is read from `MIRK3_SYSFS_ROOT` when set (emulated phones write a small tree
// there), else from /sys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirk3 {

struct UsbIdentity {
  std::string path;  // the USB device's kernel name; empty when not known
  std::optional<uint16_t> vendor;
  std::optional<uint16_t> product;
};

std::string SysfsRoot();

// The identity of port n (ttyACM<n>) under `sysfsRoot`; empty when sysfs has no USB device
// for it.
UsbIdentity ReadUsbIdentity(int port, const std::string& sysfsRoot = SysfsRoot());

// "04e8:685d", or "" when either id is unknown.
std::string UsbIdText(const UsbIdentity& identity);

}  // namespace mirk3
