// What a set of emulated phones is told to be: where their ports appear, which protocol
// version and model they report, which partition table they carry, where written partitions
// land, and, per port, what they do wrong (failed requests, a wrong greeting, silence, an
// unplugged cable, a slow erase, odd device information), which USB device they claim to be,
// and when they are plugged in or pulled out while the farm runs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devsim/jig_config.h"
#include "wire/request_table.h"

namespace mirk3::devsim {

inline constexpr char DEFAULT_MODEL[] = "MIRK3-DEMO";
inline constexpr char DEVICE_TEXT[] = "Mirk3 emulated boot loader";
inline constexpr int DEFAULT_PROTOCOL = 4;

// Answers one request type/sub-type with the failure response (-1, code), for every
// occurrence after the first `after` ones (after = 0: every occurrence).
struct FailRule {
  int32_t type = 0;
  int32_t subType = 0;
  int32_t code = BL_FAIL_WRITE;
  int after = 0;
};

// silentAfter: the phone never answers anything, not even the greeting.
inline constexpr int SILENT_FROM_START = -1;

struct PortFaults {
  std::vector<FailRule> fails;
  std::optional<std::string> handshakeAnswer;  // up to 4 bytes sent instead of "TASH"
  // Stops answering: SILENT_FROM_START, or N >= 0 to answer the greeting and N requests first.
  std::optional<int> silentAfter;
  // Disappears like an unplugged phone once this many file-data bytes have arrived.
  std::optional<uint64_t> vanishAfterBytes;
  int eraseMs = 0;                          // the erase request (100/7) takes this long
  std::optional<std::string> model;         // reports this model instead of the farm's
  std::optional<int32_t> deviceInfoSize;    // announces this record length (pieces zero-padded)
  std::optional<uint32_t> deviceInfoMagic;  // the record starts with this word instead
};

// The USB identity a phone shows in the emulated sysfs tree (as the kernel writes them:
// idVendor/idProduct in lowercase hex).
struct UsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
  bool operator==(const UsbId&) const = default;
};

// The pid.codes test identity (1209:0001), meant for devices under test: no real maker's phone
// has it, so nothing takes the emulation for one.
inline constexpr UsbId DEFAULT_USB_ID{0x1209, 0x0001};

// A hot-plug step of a running farm: the port's phone appears (plug) or is pulled out `ms`
// milliseconds after the start.
struct PlugEvent {
  int port = 0;
  int ms = 0;
  bool plug = true;
};

struct FarmConfig {
  std::string portDir;  // where the ttyACM<n> links appear
  std::vector<int> ports;
  int protocol = DEFAULT_PROTOCOL;  // answered to 100/0 in the upper half of the value
  std::string model = DEFAULT_MODEL;
  std::vector<uint8_t> pit;  // the table every phone starts with; empty: the built-in one
  std::string outDir;        // partitions land in <outDir>/ttyACM<n>/<partition name>
  bool discard = false;      // keep nothing, even with an outDir
  std::string traceDir;      // <traceDir>/ttyACM<n>.trace, one line per request
  std::map<int, PortFaults> faults;
  // Where the sysfs tree of the phones' USB devices is written; empty: no USB identity.
  std::string sysfsDir;
  std::map<int, std::string> usbPaths;  // the kernel's name of the USB device ("1-1.3")
  std::map<int, UsbId> usbIds;          // default: DEFAULT_USB_ID
  // Ports in `ports` are plugged at start, the others first when the schedule plugs them.
  std::vector<PlugEvent> schedule;
  // Existing terminals served instead of pseudo-terminals (USB gadgets' ttyGS<n>), by port:
  // nothing is published then, and a gadget found in `gadgetRoot` is plugged and unplugged
  // through its UDC file.
  std::map<int, std::string> ttys;
  std::string gadgetRoot = "/sys/kernel/config/usb_gadget";

  JigConfig jig;  // the emulated test jig, when it has a port
};

// A port's USB device name: the configured one, else "1-1.<port + 1>" (port n on hub port n+1
// of the first hub of bus 1).
std::string UsbPathFor(const FarmConfig& config, int port);
UsbId UsbIdFor(const FarmConfig& config, int port);
// The name a port goes by in lines, traces and the store: ttyACM<n>, or the served terminal's
// own name (ttyGS2).
std::string PhoneName(const FarmConfig& config, int port);

}  // namespace mirk3::devsim
