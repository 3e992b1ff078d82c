// A look at a D-Bus address before the bus library is let near it. The library's connect waits
// without a limit for a bus that accepts the connection and never speaks, with the station's
// signals unheard meanwhile. The probe opens the socket itself, sends the first line of the
// bus's greeting and waits, a limited time and watching for a stop signal, for any answer.
#pragma once

#include <chrono>
#include <string>

namespace mirk3 {

enum class BusProbe {
  Answered,  // the bus answered, or the address is of a kind the probe does not open
  Silent,    // it accepted and said nothing within the limit
  Stopped,   // a stop signal arrived while waiting
};

struct BusProbeResult {
  BusProbe outcome = BusProbe::Answered;
  std::string address;  // the address probed, for the words of a refusal
};

// The session bus (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus) or the system bus
// (DBUS_SYSTEM_BUS_ADDRESS, else /var/run/dbus/system_bus_socket). A unix socket path or
// abstract name is probed; anything else, and an address nobody listens on, is left to the bus
// library, which fails at once there. `stopFd` (a signalfd, -1 for none) ends the wait when it
// becomes readable; nothing is read from it.
BusProbeResult ProbeBus(bool systemBus, std::chrono::milliseconds limit, int stopFd = -1);

}  // namespace mirk3
