#include "devsim/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "base/file.h"
#include "cmdline/port_list.h"
#include "devsim/usb_sysfs.h"
#include "serial/serial_line.h"
#include "wire/handshake.h"

namespace mirk3::devsim {
namespace {

constexpr char DESCRIPTION[] =
    R"(Emulated phones in download mode. Each port n is a pseudo-terminal reachable as
<port dir>/ttyACMn (a symbolic link to /dev/pts/N), served by its own boot loader
thread. On start one line per phone is printed ("ttyACM3 -> /dev/pts/7"); the
phones run until SIGINT or SIGTERM, then their links are removed.

The boot loader answers the greeting "MIRK" with "TASH", then every request of
the download protocol: initialization (100), partition table upload and read in
500-byte pieces (101), file data sequences (102), close and reboot (103) and
device information in 500-byte pieces (105). Requests it does not know get the
failure response (-1, -1). An end-of-sequence request for a partition id its
table does not have gets (-1, -4); one that claims more bytes than arrived gets
(-1, -6). A reboot (103/1) answers, then the port disappears.

With --sysfs DIR each plugged phone also has a USB device in an emulated sysfs
tree under DIR, as the kernel shows one: DIR/class/tty/ttyACMn/device leads to
the interface of the USB device DIR/devices/.../<usb path>, which holds idVendor,
idProduct, busnum and devpath. A station reads it with MIRK3_SYSFS_ROOT=DIR.

Phones come and go while the farm runs: on schedule (--plug-after,
--unplug-after) and on commands read from standard input, one per line:
  plug N    a phone with a fresh boot loader appears: "ttyACMN -> /dev/pts/M"
  unplug N  its cable is pulled (link and USB device go, the line closes under
            the host): "ttyACMN unplugged"
  list      "plugged: ttyACM0 ttyACM2 ..."
Each command and scheduled step prints one line ("error: ..." when it cannot be
done). The end of standard input leaves the phones running.

With --serve-tty PATH... the phones are served on existing terminals instead, such
as USB gadgets' /dev/ttyGS<n> whose host ends are real ttyACM ports: port n is the
number ending the terminal's name (faults and commands name it so), and lines,
traces and stored partitions go by the terminal's name. A ttyGS<n> terminal must
belong to a configfs gadget: the farm plugs it (binds its UDC) once the terminal
is open, unplugs it (writes its UDC empty) for an unplug, a reboot or a vanish,
and when it stops. A gadget pulled off its bus by someone else is the host
leaving: the phone opens its terminal again and greets the next host.)";

constexpr char FAULTS_GROUP[] = "Faults, per port (each may be given several times)";
constexpr char USB_GROUP[] =
    "USB identity and hot-plug, per port (each may be given several times)";

template <typename T>
std::optional<T> Number(std::string_view text) {
  const auto value =
      DecimalNumber(text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
  return value ? std::optional<T>(static_cast<T>(*value)) : std::nullopt;
}

// A 32-bit word in hexadecimal, with or without 0x.
std::optional<uint32_t> HexWord(std::string_view text) {
  if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") text.remove_prefix(2);
  uint32_t word = 0;
  if (text.size() > 8 || !CLI::detail::lexical_cast("0x" + std::string(text), word)) return {};
  return word;
}

// "TYPE/SUB=CODE[@AFTER]"
std::optional<FailRule> ParseFailRule(std::string_view text) {
  const size_t slash = text.find('/');
  const size_t equals = text.find('=');
  if (slash == std::string_view::npos || equals == std::string_view::npos || equals < slash) {
    return {};
  }
  const size_t at = text.find('@', equals);
  const auto type = Number<int32_t>(text.substr(0, slash));
  const auto sub = Number<int32_t>(text.substr(slash + 1, equals - slash - 1));
  const auto code = Number<int32_t>(text.substr(equals + 1, at - equals - 1));
  const auto after =
      at == std::string_view::npos ? std::optional<int>(0) : Number<int>(text.substr(at + 1));
  if (!type || !sub || !code || !after || *after < 0) return {};
  return FailRule{*type, *sub, *code, *after};
}

// Applies the part after "PORT:" (`hasRest` false without a colon); false for a bad value.
using FaultApply = std::function<bool(PortFaults&, std::string_view rest, bool hasRest)>;

struct FaultOption {
  const char* name;
  const char* syntax;
  const char* description;
  bool needsRest;  // the value must have a ":..." part
  FaultApply apply;
};

const std::vector<FaultOption>& FaultOptions() {
  static const std::vector<FaultOption> options = {
      {"--fail", "PORT:TYPE/SUB=CODE[@K]",
       "answer that request with (-1, CODE); with @K the first K occurrences are answered "
       "normally, the later ones fail (example: --fail 3:102/3=-4)",
       true,
       [](PortFaults& f, std::string_view rest, bool) {
         const auto rule = ParseFailRule(rest);
         if (rule) f.fails.push_back(*rule);
         return rule.has_value();
       }},
      {"--bad-handshake", "PORT[:TEXT]",
       "answer the greeting with TEXT (up to 4 bytes, padded with zero bytes; default TASX) "
       "instead of TASH",
       false,
       [](PortFaults& f, std::string_view rest, bool hasRest) {
         f.handshakeAnswer = hasRest ? std::string(rest) : std::string("TASX");
         return rest.size() <= HANDSHAKE_LENGTH && f.handshakeAnswer != HANDSHAKE_DEVICE;
       }},
      {"--silent", "PORT[:N]",
       "stop answering: with N, after the greeting and N requests; without, from the start "
       "(greeting included)",
       false,
       [](PortFaults& f, std::string_view rest, bool hasRest) {
         const auto after = hasRest ? Number<int>(rest) : std::optional<int>(SILENT_FROM_START);
         if (after) f.silentAfter = *after;
         return after && *after >= SILENT_FROM_START;
       }},
      {"--vanish-after", "PORT:BYTES",
       "disappear like an unplugged phone once BYTES bytes of file data have arrived (the link "
       "goes, the host's reads and writes fail)",
       true,
       [](PortFaults& f, std::string_view rest, bool) {
         const auto bytes = DecimalNumber(rest, 0, std::numeric_limits<int64_t>::max());
         if (bytes) f.vanishAfterBytes = static_cast<uint64_t>(*bytes);
         return bytes.has_value();
       }},
      {"--erase-ms", "PORT:MS", "the erase request (100/7) takes MS milliseconds", true,
       [](PortFaults& f, std::string_view rest, bool) {
         const auto ms = Number<int>(rest);
         if (ms) f.eraseMs = *ms;
         return ms && *ms >= 0;
       }},
      {"--port-model", "PORT:NAME", "this port reports model NAME", true,
       [](PortFaults& f, std::string_view rest, bool) {
         f.model = std::string(rest);
         return true;
       }},
      {"--devinfo-size", "PORT:BYTES", "announce this device-information length to 105/0", true,
       [](PortFaults& f, std::string_view rest, bool) {
         const auto size = Number<int32_t>(rest);
         if (size) f.deviceInfoSize = *size;
         return size.has_value();
       }},
      {"--devinfo-magic", "PORT:HEX",
       "start the device information with this word instead of 12345678", true,
       [](PortFaults& f, std::string_view rest, bool) {
         const auto magic = HexWord(rest);
         if (magic) f.deviceInfoMagic = *magic;
         return magic.has_value();
       }},
  };
  return options;
}

// What the parser collects before the farm's configuration is filled.
struct Collected {
  std::vector<int> ports;
  std::string pitPath;
  std::map<std::string, std::vector<std::string>> faults;  // option name -> values
  std::vector<std::string> usbPaths;
  std::vector<std::string> usbIds;
  std::vector<std::string> plugAfter;
  std::vector<std::string> unplugAfter;
  std::vector<std::string> ttys;
};

// "PORT:REST" split; nothing without a colon or with a bad port.
std::optional<std::pair<int, std::string>> PortAndRest(const std::string& value) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos) return {};
  const auto port = DecimalNumber(std::string_view(value).substr(0, colon), 0, MAX_PORT);
  if (!port) return {};
  return std::pair(static_cast<int>(*port), value.substr(colon + 1));
}

// "VID:PID", each up to four hex digits.
std::optional<UsbId> ParseUsbId(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon > 4 || text.size() - colon - 1 > 4) return {};
  const auto vendor = HexWord(text.substr(0, colon));
  const auto product = HexWord(text.substr(colon + 1));
  if (!vendor || !product || colon == 0 || colon + 1 == text.size()) return {};
  return UsbId{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product)};
}

void AddPhoneOptions(CLI::App& app, FarmConfig& config, Collected& collected) {
  app.add_option("--port-dir", config.portDir, "where the links appear")
      ->type_name("DIR")
      ->default_str("$MIRK3_PORT_DIR, else /dev");
  AddPortListOption(app, "--ports", collected.ports, MAX_PORT,
                    "ports to serve, such as 0-7,12; may be repeated")
      ->default_str("0");
  app.add_option("--protocol", config.protocol, "protocol version answered to 100/0")
      ->transform(DecimalRange(0, 0xFFFF))
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--model", config.model, "model in the device information")
      ->type_name("NAME")
      ->capture_default_str();
  app.add_option("--pit", collected.pitPath, "partition table every phone starts with")
      ->type_name("FILE")
      ->default_str(
          "a built-in table: loader.bin, param.bin, boot.img, recovery.img, system.img, "
          "vendor.img, cache.img, userdata.img, modem.bin, efs.img");
  app.add_option("--out", config.outDir, "store written partitions as DIR/ttyACMn/<partition name>")
      ->type_name("DIR");
  app.add_flag("--discard", config.discard, "accept file data and keep nothing (for benchmarks)");
  app.add_option("--serve-tty", collected.ttys,
                 "serve the phones on these existing terminals (USB gadgets' /dev/ttyGS<n>) "
                 "instead of pseudo-terminals; port n is the number ending each name")
      ->type_name("PATH...");
  app.add_option("--trace", config.traceDir,
                 "write DIR/ttyACMn.trace, one line per request received: type/sub-type and "
                 "the eight words in decimal")
      ->type_name("DIR");
}

void AddUsbOptions(CLI::App& app, FarmConfig& config, Collected& collected) {
  const auto add = [&](const char* name, std::vector<std::string>& values, const char* syntax,
                       const char* description) {
    app.add_option(name, values, description)
        ->type_name(syntax)
        ->allow_extra_args(false)
        ->group(USB_GROUP);
  };
  app.add_option("--sysfs", config.sysfsDir,
                 "write each plugged phone's USB device in an emulated sysfs tree under DIR")
      ->type_name("DIR")
      ->group(USB_GROUP);
  add("--usb-path", collected.usbPaths, "PORT:PATH",
      "the port's USB device is PATH, as the kernel names it (1-1.3: bus 1, hub port 1, then "
      "port 3); default 1-1.<PORT+1>");
  add("--usb-id", collected.usbIds, "PORT:VID:PID",
      "the port's USB vendor and product id in hex; default 1209:0001 (the pid.codes test id)");
  add("--plug-after", collected.plugAfter, "PORT:MS",
      "the port's phone appears MS milliseconds after the start (a port not in --ports is "
      "absent until then)");
  add("--unplug-after", collected.unplugAfter, "PORT:MS",
      "the port's cable is pulled MS milliseconds after the start");
}

void AddFaultOptions(CLI::App& app, Collected& collected) {
  for (const FaultOption& fault : FaultOptions()) {
    app.add_option(fault.name, collected.faults[fault.name], fault.description)
        ->type_name(fault.syntax)
        ->allow_extra_args(false)
        ->group(FAULTS_GROUP);
  }
}

// The emulated test jig: its port and what it does wrong.
constexpr char JIG_GROUP[] = "Test jig";

void AddJigOptions(CLI::App& app, JigConfig& jig) {
  app.add_option("--jig", jig.port,
                 "also serve a test jig at <port dir>/ttyUSBN: it records every frame (with "
                 "--trace in DIR/ttyUSBN.trace) and answers the connection check and every "
                 "status frame with 8 bytes")
      ->transform(DecimalRange(0, MAX_PORT))
      ->type_name("N")
      ->group(JIG_GROUP);
  app.add_option("--jig-tty", jig.ttyPath,
                 "serve the test jig on this existing terminal (a USB gadget's /dev/ttyGS<n>) "
                 "instead of <port dir>/ttyUSBN")
      ->type_name("PATH")
      ->group(JIG_GROUP);
  app.add_flag("--jig-silent", jig.silent, "the jig answers nothing")->group(JIG_GROUP);
  app.add_option("--jig-answer-bytes", jig.answerBytes,
                 "the jig answers with this many bytes: fewer than 8 is a short answer, more a "
                 "long one (filled with '#')")
      ->transform(DecimalRange(0, 4096))
      ->type_name("N")
      ->capture_default_str()
      ->group(JIG_GROUP);
  app.add_option("--jig-split-ms", jig.splitMs,
                 "the jig answers in two pieces: 5 bytes, the rest MS milliseconds later")
      ->transform(DecimalRange(0, 60000))
      ->type_name("MS")
      ->group(JIG_GROUP);
  app.add_option("--jig-delay-ms", jig.delayMs, "the jig waits MS milliseconds before answering")
      ->transform(DecimalRange(0, 60000))
      ->type_name("MS")
      ->group(JIG_GROUP);
}

// Jig faults without a jig would pass unnoticed.
std::string JigProblem(const JigConfig& jig) {
  const JigConfig plain;
  const bool faulty = jig.silent || jig.answerBytes != plain.answerBytes ||
                      jig.splitMs != plain.splitMs || jig.delayMs != plain.delayMs;
  if (jig.port >= 0 && !jig.ttyPath.empty()) return "--jig and --jig-tty name two jigs";
  return faulty && jig.port < 0 && jig.ttyPath.empty() ? "a jig fault is given, but no --jig"
                                                        : "";
}

// Only a regular file is read: a FIFO would hold the farm up for ever.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  const Result<OpenedFile> file = OpenRegularFile(path);
  if (!file) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(file->size));
  if (!ReadExactAt(file->fd.Get(), bytes.data(), bytes.size(), 0)) return {};
  return bytes;
}

// "PORT:REST" applied to the port's faults; "" when done, else what is wrong.
std::string ApplyFault(const FaultOption& fault, const std::string& value, FarmConfig& config) {
  const size_t colon = value.find(':');
  const bool hasRest = colon != std::string::npos;
  const std::string_view rest =
      hasRest ? std::string_view(value).substr(colon + 1) : std::string_view();
  const auto port = DecimalNumber(std::string_view(value).substr(0, colon), 0, MAX_PORT);
  if (!port || (fault.needsRest && !hasRest) ||
      !fault.apply(config.faults[static_cast<int>(*port)], rest, hasRest)) {
    return std::string("bad value for ") + fault.name + ": '" + value + "'";
  }
  return "";
}

// The schedule, the USB paths and ids; "" when they hold, else what is wrong.
std::string CompleteUsb(const Collected& collected, FarmConfig& config) {
  const auto bad = [](const char* option, const std::string& value) {
    return std::string("bad value for ") + option + ": '" + value + "'";
  };
  for (const auto& [option, values, plug] :
       {std::tuple("--plug-after", &collected.plugAfter, true),
        std::tuple("--unplug-after", &collected.unplugAfter, false)}) {
    for (const std::string& value : *values) {
      const auto parsed = PortAndRest(value);
      const auto ms = parsed ? Number<int>(parsed->second) : std::nullopt;
      if (!ms || *ms < 0) return bad(option, value);
      config.schedule.push_back({parsed->first, *ms, plug});
    }
  }
  if (config.sysfsDir.empty() && !(collected.usbPaths.empty() && collected.usbIds.empty())) {
    return collected.usbPaths.empty() ? "--usb-id needs --sysfs" : "--usb-path needs --sysfs";
  }
  for (const std::string& value : collected.usbPaths) {
    const auto parsed = PortAndRest(value);
    if (!parsed || !ValidUsbPath(parsed->second)) return bad("--usb-path", value);
    config.usbPaths[parsed->first] = parsed->second;
  }
  for (const std::string& value : collected.usbIds) {
    const auto parsed = PortAndRest(value);
    const auto id = parsed ? ParseUsbId(parsed->second) : std::nullopt;
    if (!id) return bad("--usb-id", value);
    config.usbIds[parsed->first] = *id;
  }
  return "";
}

// Every port the farm may plug without a command: those of --ports and --plug-after.
std::set<int> KnownPorts(const FarmConfig& config) {
  std::set<int> known(config.ports.begin(), config.ports.end());
  for (const PlugEvent& event : config.schedule) {
    if (event.plug) known.insert(event.port);
  }
  return known;
}

// Per-port settings must name a port the farm serves, or a typo would pass unnoticed; two
// ports on one USB device would make no sense to a station.
std::string CheckPortsNamed(const FarmConfig& config) {
  const std::set<int> known = KnownPorts(config);
  const auto unknown = [&](const char* what, int port) {
    return std::string(what) + " names port " + std::to_string(port) +
           ", which is not in --ports or --plug-after";
  };
  for (const auto& [port, faults] : config.faults) {
    if (!known.count(port)) return unknown("a fault", port);
  }
  for (const auto& [port, path] : config.usbPaths) {
    if (!known.count(port)) return unknown("--usb-path", port);
  }
  for (const auto& [port, id] : config.usbIds) {
    if (!known.count(port)) return unknown("--usb-id", port);
  }
  for (const PlugEvent& event : config.schedule) {
    if (!known.count(event.port)) return unknown("--unplug-after", event.port);
  }
  if (config.sysfsDir.empty()) return "";
  std::map<std::string, int> holders;
  for (const int port : known) {
    const auto [held, fresh] = holders.emplace(UsbPathFor(config, port), port);
    if (!fresh) {
      return "--usb-path: ttyACM" + std::to_string(held->second) + " and ttyACM" +
             std::to_string(port) + " would both be USB device " + held->first;
    }
  }
  return "";
}

// The served terminals become the ports, each numbered by the end of its name.
std::string CompleteTtys(const Collected& collected, FarmConfig& config) {
  if (collected.ttys.empty()) return "";
  if (!collected.ports.empty()) return "--serve-tty numbers its ports itself: no --ports";
  if (!config.sysfsDir.empty() || !collected.usbPaths.empty() || !collected.usbIds.empty()) {
    return "--serve-tty serves real USB devices: no --sysfs, --usb-path or --usb-id";
  }
  config.ports.clear();
  for (const std::string& path : collected.ttys) {
    const size_t digits = path.find_last_not_of("0123456789") + 1;
    const auto port = DecimalNumber(std::string_view(path).substr(digits), 0, MAX_PORT);
    if (digits == path.size() || !port) return "--serve-tty: no port number ends '" + path + "'";
    const int n = static_cast<int>(*port);
    if (!config.ttys.emplace(n, path).second) {
      return "--serve-tty: '" + config.ttys[n] + "' and '" + path + "' are both port " +
             std::to_string(n);
    }
    config.ports.push_back(n);
  }
  std::sort(config.ports.begin(), config.ports.end());
  return "";
}

// Fills `config` from what was collected; "" when it holds, else what is wrong.
std::string Complete(const Collected& collected, FarmConfig& config) {
  if (std::string problem = CompleteTtys(collected, config); !problem.empty()) return problem;
  if (!collected.ports.empty()) {
    config.ports = collected.ports;
    std::sort(config.ports.begin(), config.ports.end());
    config.ports.erase(std::unique(config.ports.begin(), config.ports.end()), config.ports.end());
  }
  if (!collected.pitPath.empty()) {
    auto bytes = ReadWholeFile(collected.pitPath);
    if (!bytes || bytes->empty())
      return "--pit: cannot read a partition table from " + collected.pitPath;
    config.pit = std::move(*bytes);
  }
  for (const FaultOption& fault : FaultOptions()) {
    for (const std::string& value : collected.faults.at(fault.name)) {
      if (std::string problem = ApplyFault(fault, value, config); !problem.empty()) return problem;
    }
  }
  if (std::string problem = CompleteUsb(collected, config); !problem.empty()) return problem;
  return CheckPortsNamed(config);
}

}  // namespace

ParseOutcome ParseOptions(const std::vector<std::string>& args, FarmConfig* config) {
  if (config->portDir.empty()) config->portDir = DefaultPortDir();
  if (config->ports.empty()) config->ports = {0};
  Collected collected;
  const auto app = NewCommandLine("mirk3-devsim", DESCRIPTION);
  AddPhoneOptions(*app, *config, collected);
  AddFaultOptions(*app, collected);
  AddUsbOptions(*app, *config, collected);
  AddJigOptions(*app, config->jig);
  ParseOutcome outcome = ParseCommandLine(*app, args);
  if (outcome.result != ParseResult::Run) return outcome;
  if (std::string problem = Complete(collected, *config); !problem.empty()) {
    return {ParseResult::Mistake, std::move(problem)};
  }
  if (std::string problem = JigProblem(config->jig); !problem.empty()) {
    return {ParseResult::Mistake, std::move(problem)};
  }
  return outcome;
}

std::string HelpText() {
  FarmConfig config;
  return ParseOptions({"--help"}, &config).text;
}

}  // namespace mirk3::devsim
