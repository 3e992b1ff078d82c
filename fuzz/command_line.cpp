// Fuzzes the command lines of the three programs: any argument vector read by mirk3-devsim's
// options, by each command of mirk3-cli (flash, md5, verify, inspect, pit, station) or by
// mirk3-pack
// must give the help, a clear mistake or a run, never a crash. The first input byte picks the
// program or command; the rest are the arguments, split at NUL bytes. Only the parsers run: no
// phone is served, no port opened, no package read or written.
// A slash in an argument becomes '_', so that a file an option names never lies outside the
// working folder: the only one a parser opens is devsim's --pit, read-only and only when it
// is a regular file.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_flash.h"
#include "cli/cli_package_commands.h"
#include "cli/cli_package_report.h"
#include "cli/cli_pit.h"
#include "cli/cli_station.h"
#include "devsim/options.h"
#include "pack/pack_commands.h"
#include "support/fuzz_target.h"
#include "support/scratch_dir.h"

namespace {

using mirk3::fuzz::Require;
using Args = std::vector<std::string>;

Args SplitArgs(const uint8_t* data, size_t size) {
  Args args;
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      args.push_back(word);
      word.clear();
    } else {
      word.push_back(data[i] == '/' ? '_' : static_cast<char>(data[i]));
    }
  }
  if (!word.empty() || args.empty()) args.push_back(word);
  return args;
}

// A mistake is one line; help and version are shown, and a run says nothing.
void CheckOutcome(const mirk3::ParseOutcome& outcome) {
  switch (outcome.result) {
    case mirk3::ParseResult::Mistake:
      Require(!outcome.text.empty() && outcome.text.find('\n') == std::string::npos,
              "a mistake that is not one line");
      break;
    case mirk3::ParseResult::Shown:
      Require(!outcome.text.empty(), "help shown as nothing");
      break;
    case mirk3::ParseResult::Run:
      break;
  }
}

// Printed outcomes: status 0 shows something on `out`, status 2 says what is wrong on `err`
// after the program's name; a line that goes on prints nothing.
void CheckPrinted(const std::optional<int>& status, const std::string& out, const std::string& err,
                  const std::string& program) {
  if (!status) {
    Require(out.empty() && err.empty(), "a line that runs but printed");
    return;
  }
  Require(*status == 0 || *status == mirk3::USAGE_ERROR_STATUS, "an unknown exit status");
  if (*status == 0) {
    Require(!out.empty(), "help shown as nothing");
  } else {
    Require(err.rfind(program + ":", 0) == 0, "a mistake that does not name the program");
  }
}

void Devsim(const Args& args) {
  mirk3::devsim::FarmConfig config;
  config.portDir = mirk3::fuzz::ScratchDir();
  const mirk3::ParseOutcome outcome = mirk3::devsim::ParseOptions(args, &config);
  CheckOutcome(outcome);
  if (outcome.result != mirk3::ParseResult::Run) return;
  Require(!config.ports.empty(), "a farm without a port");
  for (const int port : config.ports) {
    Require(port >= 0 && port <= mirk3::devsim::MAX_PORT, "a port out of range");
  }
}

void Flash(const Args& args) {
  mirk3::FlashRequest request;
  std::ostringstream out, err;
  const auto status = mirk3::ParseFlashArguments(args, &request, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-cli flash");
  if (status) return;
  Require(!request.ports.empty(), "a run without a port");
  for (const int port : request.ports) Require(port >= 0, "a negative port");
}

void Pack(const Args& args) {
  std::ostringstream out, err;
  const auto status = mirk3::pack::ParsePackCommand(args, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-pack");
}

void Md5(const Args& args) {
  std::vector<std::string> files;
  std::ostringstream out, err;
  const auto status = mirk3::ParseMd5Arguments(args, &files, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-cli md5");
  Require(status || !files.empty(), "a check of no file");
}

void Verify(const Args& args) {
  mirk3::VerifyRequest request;
  std::ostringstream out, err;
  const auto status = mirk3::ParseVerifyArguments(args, &request, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-cli verify");
  Require(status || !request.files.empty(), "a check of no file");
}

void Inspect(const Args& args) {
  mirk3::InspectRequest request;
  std::ostringstream out, err;
  const auto status = mirk3::ParseInspectArguments(args, &request, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-cli inspect");
  if (status) return;
  for (int slot = 0; slot < mirk3::SLOT_COUNT; ++slot) {
    Require(!request.options.slotEnabled[slot] || !request.options.slotPath[slot].empty() ||
                std::find(args.begin(), args.end(), "") != args.end(),
            "a slot chosen without its package");
  }
}

void Pit(const Args& args) {
  mirk3::PitRequest request;
  std::ostringstream out, err;
  const auto status = mirk3::ParsePitArguments(args, &request, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-cli pit");
  if (status) return;
  // Either a file to show, or exactly one port and a file to save to.
  Require(request.file.empty() ? request.ports.size() == 1 && !request.out.empty()
                               : request.ports.empty() && request.out.empty(),
          "a table command that is neither a show nor a read");
}

void Station(const Args& args) {
  mirk3::StationArgs a;
  std::ostringstream out, err;
  const auto status = mirk3::ParseStationArguments(args, &a, out, err);
  CheckPrinted(status, out.str(), err.str(), "mirk3-cli station");
  if (status) return;
  Require(a.autoCount >= 0 && a.autoCount <= 56, "an auto start the window has no slots for");
  Require(a.runs >= 0, "a negative number of runs");
  Require(!(a.noBus && a.systemBus), "no bus and the system bus at once");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Args args = SplitArgs(data + 1, size - 1);
  using Parser = void (*)(const Args&);
  static constexpr Parser PARSERS[] = {Devsim, Flash, Pack, Md5, Verify, Inspect, Pit, Station};
  PARSERS[data[0] % std::size(PARSERS)](args);
  return 0;
}
