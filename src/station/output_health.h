// The health of the station's outputs: the dated log, the results records, the companion bus
// and standard output. An output that loses a line or a record says so here and the station
// goes on without waiting for it. The first loss of each output is told once on standard error
// and once in the station's log; every loss is counted, so that the process ends with a status
// that says records were lost. Used on the station's main thread, where the outputs write.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace mirk3 {

class OutputHealth {
 public:
  using Say = std::function<void(const std::string&)>;

  // `who` starts every line on standard error ("mirk3-cli station").
  explicit OutputHealth(std::string who);
  // Where a first loss is told besides standard error: the station's log of no port. A loss
  // that happens while that log line is being written (the dated log, standard output) is
  // told on standard error only: an output is never asked to write the news of its own failure.
  void SetLog(Say log) { log_ = std::move(log); }
  // Replaces the writing to standard error (the live display clears its frame first).
  void SetErrorOutput(Say say) { err_ = std::move(say); }

  // `output` ("the results file \"r.jsonl\"") lost one line or record; `why` says what failed.
  void Lost(const std::string& output, const std::string& why);
  bool AnyLost() const { return !lost_.empty(); }
  // "the results file \"r.jsonl\" lost 3, standard output lost 12": for the last line.
  std::string Summary() const;

 private:
  std::string who_;
  Say log_;
  Say err_;
  std::map<std::string, uint64_t> lost_;
  bool telling_ = false;
};

// The process's exit status: 0 every port of every run passed, 1 a phone failed, 2 nothing
// could run (refused at start), 3 an output lost records or lines (whatever the phones did:
// a script must not trust the records then).
inline constexpr int kExitAllPassed = 0;
inline constexpr int kExitPhoneFailed = 1;
inline constexpr int kExitNothingRan = 2;
inline constexpr int kExitOutputLost = 3;

// The status of a station that ended with `runStatus` (0, 1 or 2), given its outputs.
int ExitStatusWith(int runStatus, const OutputHealth& health);

}  // namespace mirk3
