// `mirk3-cli pit`: shows a partition table file, or reads a phone's own table and saves it:
// what an engineer needs to see before re-partitioning.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mirk3 {

// `pit FILE` prints the table, and refuses (one line on `err`) a FILE that is not a regular file
// holding a table; `pit --port N --out FILE` (with the line options of cli_options.h) connects,
// initializes, reads the table, closes the download without a reboot and writes the table to FILE
// (refused at once when FILE exists and is not a regular file; replaced only by a whole table).
// Exit 0 done, 1 failed, 2 usage error.
int RunPitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The table as text: header count, then one line per entry.
std::string DescribePitTable(const std::vector<uint8_t>& bytes);

}  // namespace mirk3
