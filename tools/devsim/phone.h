// One emulated phone in download mode: its pseudo-terminal, its boot loader, the thread that
// serves the host and, when asked for, its USB device in an emulated sysfs tree. It runs from
// Start until Stop, a reboot, or a vanish fault; each of these takes the port link and the USB
// device away.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/file.h"
#include "devsim/boot_loader.h"
#include "devsim/gadget_udc.h"
#include "devsim/partition_store.h"
#include "devsim/pty_line.h"
#include "devsim/request_trace.h"
#include "devsim/usb_sysfs.h"

namespace mirk3::devsim {

struct PhonePlaces {
  std::string linkPath;   // <port dir>/ttyACM<n>
  std::string storeDir;   // empty: keep nothing
  std::string traceFile;  // empty: trace in memory only
  std::string sysfsRoot;  // empty: no USB device
  std::string ttyPath;    // an existing terminal to serve instead of a pseudo-terminal
  GadgetUdc* gadget = nullptr;  // the terminal's USB gadget, plugged while the phone runs
  std::string usbPath;
  UsbId usbId;
};

class Phone {
 public:
  Phone(PhoneSetup setup, PhonePlaces places);
  ~Phone();
  Phone(const Phone&) = delete;
  Phone& operator=(const Phone&) = delete;

  // Publishes the port and starts serving; false (with a reason) when it cannot.
  bool Start(std::string* error);
  // Stops serving and removes the port; harmless to call twice.
  void Stop();

  int Port() const { return port_; }
  const std::string& LinkPath() const { return places_.linkPath; }
  const std::string& UsbPath() const { return places_.usbPath; }
  const std::string& SlavePath() const { return line_.SlavePath(); }
  // False once the phone rebooted or vanished (or was stopped).
  bool Plugged() const { return line_.Plugged(); }
  std::vector<std::string> Trace() const { return trace_.Lines(); }
  std::vector<uint8_t> Pit() const { return bootLoader_.Pit(); }

 private:
  bool StartOnTerminal(std::string* error);

  int port_;
  PhonePlaces places_;
  UniqueFd stopFd_;                      // an eventfd: written once to stop the phone
  std::unique_ptr<UsbSysfsDevice> usb_;  // outlives the line, whose unplugging removes it
  PtyLine line_;
  PartitionStore store_;
  RequestTrace trace_;
  BootLoader bootLoader_;
  std::thread thread_;
};

}  // namespace mirk3::devsim
