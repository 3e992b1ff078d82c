// A phone's USB device as the kernel shows it in sysfs, written under an emulated sysfs root R
// so that the station (reading R instead of /sys) finds which cable a port is on:
//
//   R/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.3/           the USB device "1-1.3":
//       idVendor, idProduct ("1209\n"), busnum ("1\n"), devpath ("1.3\n")
//   R/devices/.../1-1.3/1-1.3:1.0/tty/ttyACM3/device -> ../../../1-1.3:1.0
//   R/class/tty/ttyACM3 -> ../../devices/.../1-1.3/1-1.3:1.0/tty/ttyACM3
//
// Every link is relative, so the tree can be moved. The class entry is published last and in
// one step, so a reader that finds it finds the whole device.
#pragma once

#include <string>

#include "devsim/farm_config.h"

namespace mirk3::devsim {

// "B-P1.P2...": a bus number and a chain of hub port numbers, each from 1.
bool ValidUsbPath(const std::string& usbPath);

class UsbSysfsDevice {
 public:
  UsbSysfsDevice(std::string root, std::string portName, std::string usbPath, UsbId id);
  ~UsbSysfsDevice() { Remove(); }
  UsbSysfsDevice(const UsbSysfsDevice&) = delete;
  UsbSysfsDevice& operator=(const UsbSysfsDevice&) = delete;

  // Writes the device and its tty; a device of the same name left by an earlier run is
  // replaced.
  bool Write(std::string* error);
  // Takes the class entry, then the device away; harmless to call twice.
  void Remove();

  // R/devices/.../<usb path>
  std::string DeviceDir() const { return root_ + "/" + deviceRel_; }

 private:
  std::string ClassEntry() const;   // R/class/tty/<port>
  std::string ClassTarget() const;  // where that entry points, relative to it

  std::string root_;
  std::string portName_;
  std::string usbPath_;
  UsbId id_;
  std::string deviceRel_;  // the device dir relative to the root
  bool written_ = false;
};

// Removes the directories of the tree (under R/devices and R/class) that are left empty: the
// hubs and buses of devices gone.
void PruneSysfsTree(const std::string& root);

}  // namespace mirk3::devsim
