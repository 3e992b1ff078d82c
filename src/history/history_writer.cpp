#include "history/history_writer.h"

#include <QSqlQuery>
#include <algorithm>

#include "history/history_schema.h"

namespace mirk3 {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int FORWARD_BATCH = 500;
constexpr int HISTORY_ROWS = 20000;

std::vector<SlotResult> ReadRecentResults(SqlConnection& c, const std::string& station) {
  QSqlQuery query(c.Db());
  query.prepare(
      "SELECT slot, usb_path, verdict, ended FROM results WHERE station = ? "
      "ORDER BY ended DESC LIMIT ?");
  query.addBindValue(QString::fromStdString(station));
  query.addBindValue(HISTORY_ROWS);
  std::vector<SlotResult> results;
  if (!query.exec()) return results;
  while (query.next()) {
    results.push_back({query.value(0).toInt(), query.value(1).toString().toStdString(),
                       query.value(2).toString() == "PASS",
                       query.value(3).toString().toStdString()});
  }
  std::reverse(results.begin(), results.end());
  return results;
}

}  // namespace

Status HistoryWriter::Start(WriterOptions options, WriterEvents events) {
  options_ = std::move(options);
  events_ = std::move(events);
  std::promise<Status> opened;
  std::future<Status> result = opened.get_future();
  // The thread owns the promise: nothing of it is left to this frame once the answer is in.
  thread_ = std::thread([this, promise = std::move(opened)]() mutable { Run(&promise); });
  Status started = result.get();
  if (!started) thread_.join();
  return started;
}

void HistoryWriter::Submit(HistoryEntry entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(entry));
    ++submitted_;
  }
  wake_.notify_one();
}

void HistoryWriter::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

bool HistoryWriter::Flush(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t target = submitted_;
  return landed_.wait_for(lock, timeout, [&] { return settled_ >= target; });
}

int64_t HistoryWriter::Lost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

int64_t HistoryWriter::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

Status HistoryWriter::OpenPrimary() {
  Status opened = primary_.Open(options_.target);
  if (opened) opened = MigrateHistorySchema(primary_);
  if (!opened) {
    primary_.Close();
    return opened;
  }
  if (!historyRead_) {
    historyRead_ = true;
    if (events_.history) events_.history(ReadRecentResults(primary_, options_.station));
  }
  return {};
}

void HistoryWriter::Run(std::promise<Status>* opened) {
  const bool postgres = options_.target.IsPostgres();
  if (Status open = postgres ? outbox_.Open(options_.bufferPath) : OpenPrimary(); !open) {
    opened->set_value(open.error().text.empty() ? Fail("cannot open the results database") : open);
    return;
  }
  if (Status reached = postgres ? OpenPrimary() : Status(); !reached) {
    nextTry_ = Clock::now() + options_.retryEvery;
    Failed(ServerAway(reached.error().text));
  }
  opened->set_value({});
  PollClears();
  for (;;) {
    std::vector<HistoryEntry> batch;
    bool stopping = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, NextWake(), [this] { return stopping_ || !queue_.empty(); });
      batch.swap(queue_);
      stopping = stopping_;
    }
    Land(batch);
    if (postgres) Forward();
    if (Clock::now() >= nextPoll_) PollClears();
    if (stopping) break;
  }
  {
    // What is still in memory now is lost to the database (the results lines keep it).
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ += static_cast<int64_t>(pending_.size());
    settled_ += pending_.size();
  }
  landed_.notify_all();
  pending_.clear();
  primary_.Close();
}

Clock::time_point HistoryWriter::NextWake() const {
  Clock::time_point next = nextPoll_;
  const bool retrying = !pending_.empty() || (options_.target.IsPostgres() && !primary_.IsOpen());
  if (retrying) next = std::min(next, nextTry_);
  return next;
}

// Puts the batch (and what waited before it) where it is safe: the SQLite file, or the
// server's buffer.
void HistoryWriter::Land(std::vector<HistoryEntry>& batch) {
  const size_t fresh = batch.size();
  pending_.insert(pending_.end(), std::make_move_iterator(batch.begin()),
                  std::make_move_iterator(batch.end()));
  if (pending_.empty()) return;
  if (fresh == 0 && Clock::now() < nextTry_) return;
  const bool postgres = options_.target.IsPostgres();
  Status landed;
  if (postgres) {
    landed = outbox_.Append(pending_);
  } else {
    if (!primary_.IsOpen()) landed = OpenPrimary();
    if (landed) {
      landed = StoreEntries(primary_, pending_);
      if (!landed) primary_.Close();  // opened afresh at the next try
    }
  }
  const bool stored = landed.ok();
  size_t dropped = 0;
  if (stored) {
    if (!postgres) Recovered("the results database " + options_.target.Describe() +
                             " is written again");
  } else {
    nextTry_ = Clock::now() + options_.retryEvery;
    Failed(landed.error().text);
    if (pending_.size() > options_.memoryLimit) {
      dropped = pending_.size() - options_.memoryLimit;
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(dropped));
    }
  }
  const int64_t buffered = postgres && outbox_.IsOpen() ? std::max<int64_t>(outbox_.Count(), 0) : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ += static_cast<int64_t>(dropped);
    settled_ += stored ? pending_.size() : dropped;
    waiting_ = (stored ? 0 : static_cast<int64_t>(pending_.size())) + buffered;
  }
  if (stored) pending_.clear();
  landed_.notify_all();
}

// Sends the buffer to the server, oldest first, while it takes them.
void HistoryWriter::Forward() {
  if (!primary_.IsOpen()) {
    if (Clock::now() < nextTry_) return;
    if (const Status reached = OpenPrimary(); !reached) {
      nextTry_ = Clock::now() + options_.retryEvery;
      Failed(ServerAway(reached.error().text));
      return;
    }
  }
  int64_t sent = 0;
  for (;;) {
    const Result<std::vector<Outbox::Held>> held = outbox_.Oldest(FORWARD_BATCH);
    if (!held || held->empty()) break;
    std::vector<HistoryEntry> entries;
    for (const Outbox::Held& h : *held) entries.push_back(h.entry);
    if (const Status stored = StoreEntries(primary_, entries); !stored) {
      primary_.Close();
      nextTry_ = Clock::now() + options_.retryEvery;
      Failed(ServerAway(stored.error().text));
      return;
    }
    sent += static_cast<int64_t>(held->size());
    if (!outbox_.RemoveThrough(held->back().seq)) break;  // sent again later: harmless
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_ = static_cast<int64_t>(pending_.size()) + std::max<int64_t>(outbox_.Count(), 0);
  }
  Recovered("the results database " + options_.target.Describe() + " is reachable again (" +
            std::to_string(sent) + " buffered records sent)");
}

void HistoryWriter::PollClears() {
  nextPoll_ = Clock::now() + options_.pollEvery;
  if (!primary_.IsOpen() || !events_.clears) return;
  QSqlQuery query(primary_.Db());
  query.prepare("SELECT slot, cleared FROM slot_clears WHERE station = ?");
  query.addBindValue(QString::fromStdString(options_.station));
  if (!query.exec()) return;
  std::map<int, std::string> clears;
  while (query.next()) clears[query.value(0).toInt()] = query.value(1).toString().toStdString();
  if (clears == clears_) return;
  clears_ = clears;
  events_.clears(clears_);
}

std::string HistoryWriter::ServerAway(const std::string& why) const {
  return why + "; the records wait in " + options_.bufferPath + " until it is back";
}

void HistoryWriter::Failed(const std::string& why) {
  if (outage_) return;
  outage_ = true;
  if (events_.failed) events_.failed(why);
}

void HistoryWriter::Recovered(const std::string& how) {
  if (!outage_) return;
  outage_ = false;
  if (events_.recovered) events_.recovered(how);
}

}  // namespace mirk3
