// Writes the results history on a thread of its own, with its own connection, so that a slow
// disk or a far server never holds the station. Records are handed over with Submit, which
// only takes a lock; the thread stores them in batches.
//
// SQLite: the records go into the file; while it cannot be written they wait in memory and
// are tried again. PostgreSQL: each record goes into a local SQLite buffer first and is taken
// out once the server has it, so a server lost mid-day (or a station stopped while it is
// away) loses nothing; the server is tried again every `retryEvery`. A record sent twice is
// stored once (its id). Failures are told once per outage, on the writer's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/result.h"
#include "history/database_target.h"
#include "history/history_entry.h"
#include "history/outbox.h"
#include "history/slot_health.h"

namespace mirk3 {

struct WriterOptions {
  DatabaseTarget target;
  std::string bufferPath;  // PostgreSQL: the local buffer file
  std::string station;     // whose slot clears and recent results it reads
  std::chrono::milliseconds retryEvery{5000};
  std::chrono::milliseconds pollEvery{2000};  // how often the slot clears are read
  size_t memoryLimit = 100000;                // records held in memory at most
};

// Called on the writer's thread.
struct WriterEvents {
  std::function<void(const std::string&)> failed;     // an outage began: why
  std::function<void(const std::string&)> recovered;  // it ended
  // The station's slot clears (slot -> UTC time), whenever they change.
  std::function<void(const std::map<int, std::string>&)> clears;
  // The station's recent results stored before this start, oldest first; once.
  std::function<void(const std::vector<SlotResult>&)> history;
};

class HistoryWriter {
 public:
  HistoryWriter() = default;
  ~HistoryWriter() { Stop(); }
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  // Starts the thread and waits until it has opened its database: fails, with why, when an
  // SQLite file (or the buffer of a server) cannot be opened. A PostgreSQL server that cannot
  // be reached is no reason to refuse: its records wait in the buffer.
  Status Start(WriterOptions options, WriterEvents events);
  // Hands a record to the thread; never waits for the database.
  void Submit(HistoryEntry entry);
  // Stores what was handed over (one last try at the database) and ends the thread.
  void Stop();
  // Waits until every record handed over so far has been stored or buffered (for tests and
  // an orderly end); false after `timeout`.
  bool Flush(std::chrono::milliseconds timeout);

  // Records that reached neither the database nor its buffer: an output lost.
  int64_t Lost() const;
  // Records waiting: in memory, and in the buffer for the server.
  int64_t Waiting() const;

 private:
  void Run(std::promise<Status>* opened);
  Status OpenPrimary();
  void Land(std::vector<HistoryEntry>& batch);
  void Forward();
  void PollClears();
  std::string ServerAway(const std::string& why) const;
  void Failed(const std::string& why);
  void Recovered(const std::string& how);
  std::chrono::steady_clock::time_point NextWake() const;

  WriterOptions options_;
  WriterEvents events_;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable landed_;
  std::vector<HistoryEntry> queue_;
  bool stopping_ = false;
  uint64_t submitted_ = 0;  // all counted under mutex_
  uint64_t settled_ = 0;    // stored, buffered or lost
  int64_t lost_ = 0;
  int64_t waiting_ = 0;

  // Only the writer's thread touches these.
  SqlConnection primary_;  // the SQLite file, or the server while it is reachable
  Outbox outbox_;          // PostgreSQL only
  std::vector<HistoryEntry> pending_;  // neither stored nor buffered yet
  std::chrono::steady_clock::time_point nextTry_, nextPoll_;
  std::map<int, std::string> clears_;
  bool outage_ = false;
  bool historyRead_ = false;
};

}  // namespace mirk3
