#include "cli/cli_ports.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <filesystem>

#include "station/station_settings.h"
#include "station/station.h"
#include "base/file.h"
#include "base/text.h"
#include "cmdline/command_line.h"
#include "ports/port_dir.h"
#include "ports/port_slot_manager.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

// Prints each change of the table as the station logs it; the table is only touched here, on
// the one thread of the command.
class LogPrinter {
 public:
  LogPrinter(std::ostream& out, const CPortSlotManager* const* slots) : out_(out), slots_(slots) {}
  void Changed(PortChange change, int port) {
    if (!printing) return;
    if (change == PortChange::Waiting) {
      out_ << FormatLogLine(-1, NO_PORT, PortName(port) + " waits for a free slot") << '\n';
    } else {
      out_ << FormatLogLine((*slots_)->SlotOfPort(port), port,
                            change == PortChange::Added ? "Added!!" : "Removed!!")
           << '\n';
    }
    out_ << std::flush;
  }
  bool printing = false;  // the placements of the first scan are the table, not news

 private:
  std::ostream& out_;
  const CPortSlotManager* const* slots_;
};

std::string Reservation(const PortRules& rules, int slot) {
  const auto it = rules.slots.find(slot);
  if (it == rules.slots.end()) return "";
  return it->second.usbPath.empty() ? PortName(it->second.port) : it->second.usbPath;
}

void PrintTable(const CPortSlotManager& slots, std::ostream& out) {
  out << Format("%-5s %-10s %-14s %-10s %s\n", "slot", "port", "USB path", "id", "kept for");
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    const int port = slots.PortOfSlot(slot);
    const std::string kept = Reservation(slots.Rules(), slot);
    if (port < 0 && kept.empty()) continue;
    const UsbIdentity id = port < 0 ? UsbIdentity{} : slots.IdentityOfPort(port);
    out << Format("%-5d %-10s %-14s %-10s %s\n", slot, port < 0 ? "-" : PortName(port).c_str(),
                  id.path.empty() ? "-" : id.path.c_str(),
                  UsbIdText(id).empty() ? "-" : UsbIdText(id).c_str(), kept.c_str());
  }
}

constexpr char WHO[] = "mirk3-cli ports";

// What the dir holds now is the truth: ports gone from it leave their slots, new ones are
// placed.
void Resync(CPortSlotManager& slots) {
  for (int port : slots.MissingPorts()) slots.RemovePort(port);
  slots.ScanPorts(1);
}

// Hands one event to the table; false when the dir can no longer be watched (said on `err`).
bool Handle(CPortSlotManager& slots, const PortWatcher::Event& event, std::ostream& err) {
  using Change = PortWatcher::Change;
  switch (event.change) {
    case Change::Arrival:
    case Change::Removal:
      slots.OnPortEvent(
          event.change == Change::Arrival ? DEVICE_ARRIVAL : DEVICE_REMOVE_COMPLETE, event.name);
      return true;
    case Change::Overflow:
      err << WHO << ": events of " << slots.PortDir() << " were lost; looking at it again\n";
      break;
    case Change::WatchLost:
      err << WHO << ": " << event.name << " was " << event.detail
          << "; waiting for it to come back\n";
      break;
    case Change::WatchBack:
      err << WHO << ": " << event.name << " is back; watching it again\n";
      break;
    case Change::WatchFailed:
      err << WHO << ": " << event.name << ": " << event.detail << "\n";
      return false;
  }
  err << std::flush;
  Resync(slots);
  return true;
}

// Hands every arrival and removal to the table until SIGINT or SIGTERM; 1 when the port dir
// can no longer be watched.
int Watch(CPortSlotManager& slots, PortWatcher& watcher, std::ostream& err) {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  const UniqueFd signals(signalfd(-1, &stop, SFD_CLOEXEC));
  err << WHO << ": watching " << slots.PortDir() << " (Ctrl+C ends)\n";
  pollfd fds[2] = {{watcher.Fd(), POLLIN, 0}, {signals.Get(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN)) break;
    for (const PortWatcher::Event& event : watcher.ReadEvents()) {
      if (!Handle(slots, event, err)) return 1;
    }
  }
  return 0;
}

}  // namespace

int RunPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const auto app = NewCommandLine(
      "mirk3-cli ports",
      "Shows which slot each phone's port takes now, with its physical USB port, and with "
      "--watch every phone plugged in or pulled out after that.");
  std::string iniPath;
  std::string portDir;
  bool watch = false;
  AddSettingsOption(*app, iniPath);
  app->add_option("--port-dir", portDir, "where the ports' device nodes are")
      ->type_name("DIR")
      ->default_str("$MIRK3_PORT_DIR, else /dev");
  app->add_flag("--watch", watch, "then print a log line for every phone that comes or goes");
  if (const auto status = ParseCommandLine(*app, args, out, err)) return *status;

  const std::optional<Settings> settings = LoadStationSettings(iniPath, err, WHO, SettingsCheck{portDir, "", false});
  if (!settings) return 2;
  const CPortSlotManager* table = nullptr;
  LogPrinter printer(out, &table);
  CPortSlotManager slots([&printer](PortChange change, int port) { printer.Changed(change, port); },
                         [&err](const std::string& m) { err << m << "\n"; });
  table = &slots;
  slots.SetRules(PortRulesFrom(*settings, portDir));
  // Watching starts before the scan, so that no phone slips between the two.
  PortWatcher watcher;
  if (const Status watched = watch ? watcher.Start(slots.PortDir()) : Status(); !watched) {
    err << WHO << ": " << watched.error().text << "\n";
    return 2;
  }
  if (slots.ScanPorts(1) == -1 && !std::filesystem::is_directory(slots.PortDir())) {
    err << WHO << ": cannot read the port dir " << slots.PortDir() << "\n";
    return 2;
  }
  PrintTable(slots, out);
  out << std::flush;
  printer.printing = true;
  return watch ? Watch(slots, watcher, err) : 0;
}

}  // namespace mirk3
