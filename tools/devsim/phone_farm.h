// A set of emulated phones, one per port, each on its own pseudo-terminal and thread: the
// in-process face of mirk3-devsim for tests and benchmarks.
//
//   devsim::FarmConfig config;
//   config.portDir = dir;
//   config.ports = {0, 1};
//   devsim::PhoneFarm farm(config);
//   if (!farm.Start(&error)) ...;
//   ... the station talks to <dir>/ttyACM0 and ttyACM1 ...
//   farm.Trace(0);  // the requests phone 0 received
//
//   farm.Unplug(1); farm.Plug(1);  // the cable of port 1 pulled out and plugged in again
//
// With a sysfs dir, each plugged phone also has its USB device there (see UsbSysfsDevice).
// The destructor stops every phone and removes its link and USB device. One thread drives a
// farm; the phones serve on threads of their own.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devsim/farm_config.h"
#include "devsim/phone.h"

namespace mirk3::devsim {

class PhoneFarm {
 public:
  explicit PhoneFarm(FarmConfig config);
  ~PhoneFarm();
  PhoneFarm(const PhoneFarm&) = delete;
  PhoneFarm& operator=(const PhoneFarm&) = delete;

  // Publishes every port and starts serving. On failure nothing is left running.
  bool Start(std::string* error = nullptr);
  // Stops every phone and removes the links and USB devices; traces and tables stay readable.
  void Stop();

  // A phone with a fresh boot loader appears at the port (any port up to the highest, served
  // from the start or not). False (with a reason) when the port has a plugged phone already,
  // or its USB path is another plugged phone's.
  bool Plug(int port, std::string* error = nullptr);
  // The cable is pulled: link and USB device go, the pseudo-terminal closes under the host.
  // False when the port has no plugged phone.
  bool Unplug(int port);
  std::vector<int> PluggedPorts() const;

  const FarmConfig& Config() const { return config_; }
  // The requests a phone received, one line each ("102/3 0 31457280 0 2 7 0 0 0").
  std::vector<std::string> Trace(int port) const;
  // A phone's current partition table (the uploaded one after a re-partition).
  std::vector<uint8_t> Pit(int port) const;
  // False once the phone rebooted or vanished, and for ports the farm does not have.
  bool Plugged(int port) const;
  std::string LinkPath(int port) const;
  std::string SlavePath(int port) const;  // /dev/pts/N

 private:
  const Phone* Find(int port) const;
  PhonePlaces PlacesFor(int port) const;
  bool FindGadgets(std::string* error);
  // The plugged phone that has this USB path, or nullptr.
  const Phone* HolderOfUsbPath(const std::string& usbPath) const;

  FarmConfig config_;
  std::map<int, std::unique_ptr<GadgetUdc>> gadgets_;  // of served gadget terminals, by port
  std::map<int, std::unique_ptr<Phone>> phones_;
};

// One phone's setup from the farm's configuration: its table, model and device information.
PhoneSetup SetupFor(const FarmConfig& config, int port);

}  // namespace mirk3::devsim
