#include "devsim/options.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <optional>

#include "devsim/port_list.h"
#include "serial/serial_line.h"
#include "wire/handshake.h"

namespace mirk3::devsim {
namespace {

template <typename T>
std::optional<T> Number(std::string_view text, int base = 10) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

// "PORT:REST" -> port and rest; `rest` is empty and `hasRest` false without a colon.
bool SplitPort(std::string_view text, int* port, std::string_view* rest, bool* hasRest) {
  const size_t colon = text.find(':');
  *hasRest = colon != std::string_view::npos;
  *rest = *hasRest ? text.substr(colon + 1) : std::string_view();
  const auto value = Number<int>(text.substr(0, colon));
  if (!value || *value < 0 || *value > MAX_PORT) return false;
  *port = *value;
  return true;
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

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Parser {
 public:
  Parser(FarmConfig* config, std::string* error) : config_(config), error_(error) {}

  // One option with its value; false (and the error) when the value is wrong.
  bool Apply(const std::string& name, std::string_view value);
  bool Check();
  static bool TakesValue(const std::string& name) { return name != "--discard"; }

 private:
  bool Bad(const std::string& name, std::string_view value) {
    *error_ = "bad value for " + name + ": '" + std::string(value) + "'";
    return false;
  }
  bool PortFault(const std::string& name, std::string_view value, bool needRest,
                 const std::function<bool(PortFaults&, std::string_view, bool)>& apply);

  FarmConfig* config_;
  std::string* error_;
};

bool Parser::PortFault(const std::string& name, std::string_view value, bool needRest,
                       const std::function<bool(PortFaults&, std::string_view, bool)>& apply) {
  int port = 0;
  std::string_view rest;
  bool hasRest = false;
  if (!SplitPort(value, &port, &rest, &hasRest) || (needRest && !hasRest)) return Bad(name, value);
  if (!apply(config_->faults[port], rest, hasRest)) return Bad(name, value);
  return true;
}

bool Parser::Apply(const std::string& name, std::string_view value) {
  if (name == "--port-dir") {
    config_->portDir = value;
  } else if (name == "--ports") {
    auto ports = ParsePortList(value);
    if (!ports) return Bad(name, value);
    config_->ports = *ports;
  } else if (name == "--protocol") {
    const auto protocol = Number<int>(value);
    if (!protocol || *protocol < 0 || *protocol > 0xFFFF) return Bad(name, value);
    config_->protocol = *protocol;
  } else if (name == "--model") {
    config_->model = value;
  } else if (name == "--pit") {
    auto bytes = ReadWholeFile(std::string(value));
    if (!bytes || bytes->empty()) {
      *error_ = "cannot read a partition table from " + std::string(value);
      return false;
    }
    config_->pit = std::move(*bytes);
  } else if (name == "--out") {
    config_->outDir = value;
  } else if (name == "--discard") {
    config_->discard = true;
  } else if (name == "--trace") {
    config_->traceDir = value;
  } else if (name == "--fail") {
    return PortFault(name, value, true, [](PortFaults& f, std::string_view rest, bool) {
      const auto rule = ParseFailRule(rest);
      if (rule) f.fails.push_back(*rule);
      return rule.has_value();
    });
  } else if (name == "--bad-handshake") {
    return PortFault(name, value, false, [](PortFaults& f, std::string_view rest, bool hasRest) {
      f.handshakeAnswer = hasRest ? std::string(rest) : std::string("TASX");
      return rest.size() <= HANDSHAKE_LENGTH && f.handshakeAnswer != HANDSHAKE_DEVICE;
    });
  } else if (name == "--silent") {
    return PortFault(name, value, false, [](PortFaults& f, std::string_view rest, bool hasRest) {
      const auto after = hasRest ? Number<int>(rest) : std::optional<int>(SILENT_FROM_START);
      if (after) f.silentAfter = *after;
      return after && *after >= SILENT_FROM_START;
    });
  } else if (name == "--vanish-after") {
    return PortFault(name, value, true, [](PortFaults& f, std::string_view rest, bool) {
      const auto bytes = Number<uint64_t>(rest);
      if (bytes) f.vanishAfterBytes = *bytes;
      return bytes.has_value();
    });
  } else if (name == "--erase-ms") {
    return PortFault(name, value, true, [](PortFaults& f, std::string_view rest, bool) {
      const auto ms = Number<int>(rest);
      if (ms) f.eraseMs = *ms;
      return ms && *ms >= 0;
    });
  } else if (name == "--port-model") {
    return PortFault(name, value, true, [](PortFaults& f, std::string_view rest, bool) {
      f.model = std::string(rest);
      return true;
    });
  } else if (name == "--devinfo-size") {
    return PortFault(name, value, true, [](PortFaults& f, std::string_view rest, bool) {
      const auto size = Number<int32_t>(rest);
      if (size) f.deviceInfoSize = *size;
      return size.has_value();
    });
  } else if (name == "--devinfo-magic") {
    return PortFault(name, value, true, [](PortFaults& f, std::string_view rest, bool) {
      if (rest.substr(0, 2) == "0x" || rest.substr(0, 2) == "0X") rest.remove_prefix(2);
      const auto magic = Number<uint32_t>(rest, 16);
      if (magic) f.deviceInfoMagic = *magic;
      return magic.has_value();
    });
  } else {
    *error_ = "unknown option " + name + " (see --help)";
    return false;
  }
  return true;
}

// Faults must name served ports, or a typo would pass unnoticed.
bool Parser::Check() {
  for (const auto& [port, faults] : config_->faults) {
    bool served = false;
    for (const int p : config_->ports) served = served || p == port;
    if (!served) {
      *error_ = "a fault names port " + std::to_string(port) + ", which is not in --ports";
      return false;
    }
  }
  return true;
}

}  // namespace

Parsed ParseOptions(const std::vector<std::string>& args, FarmConfig* config, std::string* error) {
  if (config->portDir.empty()) config->portDir = DefaultPortDir();
  if (config->ports.empty()) config->ports = {0};
  Parser parser(config, error);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return Parsed::kHelp;
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (Parser::TakesValue(name) && name.rfind("--", 0) == 0) {
      if (i + 1 >= args.size()) {
        *error = name + " needs a value";
        return Parsed::kError;
      }
      value = args[++i];
    }
    if (!parser.Apply(name, value)) return Parsed::kError;
  }
  return parser.Check() ? Parsed::kRun : Parsed::kError;
}

std::string HelpText() {
  return R"(Usage: mirk3-devsim [options]

Emulated phones in download mode. Each port n is a pseudo-terminal reachable as
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

Phones:
  --port-dir DIR        where the links appear (default: $MIRK3_PORT_DIR or /dev)
  --ports LIST          ports to serve, such as 0-7,12 (default: 0)
  --protocol N          protocol version answered to 100/0 (default: 4)
  --model NAME          model in the device information (default: MIRK3-DEMO)
  --pit FILE            partition table every phone starts with (default: a
                        built-in table: loader.bin, param.bin, boot.img,
                        recovery.img, system.img, vendor.img, cache.img,
                        userdata.img, modem.bin, efs.img)
  --out DIR             store written partitions as DIR/ttyACMn/<partition name>
  --discard             accept file data and keep nothing (for benchmarks)
  --trace DIR           write DIR/ttyACMn.trace, one line per request received:
                        type/sub-type and the eight words in decimal

Faults, per port (each may be given several times):
  --fail PORT:TYPE/SUB=CODE[@K]
                        answer that request with (-1, CODE); with @K the first
                        K occurrences are answered normally, the later ones fail
                        (example: --fail 3:102/3=-4)
  --bad-handshake PORT[:TEXT]
                        answer the greeting with TEXT (up to 4 bytes, padded
                        with zero bytes; default TASX) instead of TASH
  --silent PORT[:N]     stop answering: with N, after the greeting and N
                        requests; without, from the start (greeting included)
  --vanish-after PORT:BYTES
                        disappear like an unplugged phone once BYTES bytes of
                        file data have arrived (the link goes, the host's
                        reads and writes fail)
  --erase-ms PORT:MS    the erase request (100/7) takes MS milliseconds
  --port-model PORT:NAME
                        this port reports model NAME
  --devinfo-size PORT:BYTES
                        announce this device-information length to 105/0
  --devinfo-magic PORT:HEX
                        start the device information with this word instead
                        of 12345678

  -h, --help            show this text
)";
}

}  // namespace mirk3::devsim
