// `mirk3-cli pit`: shows a partition table file, or reads a phone's own table and saves it:
// what an engineer needs to see before re-partitioning.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/engine_context.h"

namespace mirk3 {

// `pit FILE` prints the table, and refuses (one line on `err`) a FILE that is not a regular file
// holding a table; `pit --port N --out FILE` (with the line options of cli_options.h) connects,
// initializes, reads the table, closes the download without a reboot and writes the table to FILE
// (refused at once when FILE exists and is not a regular file; replaced only by a whole table).
// Exit 0 done, 1 failed, 2 usage error.
int RunPitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// What `pit` was asked: a FILE to show, or one port to read and an --out to save its table to.
struct PitRequest {
  std::string file, out;
  std::vector<int> ports;
  EngineContext context;
};

// The arguments read into `request`: the exit status when they decide it (help shown, a usage
// mistake, printed), nothing when the command goes on. No file or port is opened.
std::optional<int> ParsePitArguments(const std::vector<std::string>& args, PitRequest* request,
                                     std::ostream& out, std::ostream& err);

// The table as text: header count, then one line per entry.
std::string DescribePitTable(const std::vector<uint8_t>& bytes);

}  // namespace mirk3
