// `mirk3-cli results`: what the results history says about a line: the yield per day, per
// package set and per slot; per slot and USB path the recent pass rate, median time and
// median throughput; the slots that fail far more often than the rest of their station,
// flagged "check the cable or hub". --json for scripts, --csv for a spreadsheet, and
// --clear-slot N for the operator who has mended a slot's cable.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mirk3 {

// Exit 0, 1 when the database cannot be read or written, 2 for a usage error.
int RunResultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirk3
