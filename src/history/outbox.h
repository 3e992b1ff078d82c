// The local buffer of a station that writes to a PostgreSQL server: every record is kept in an
// SQLite file first and taken out only once the server has stored it, so a server away for
// hours, or a station stopped meanwhile, loses nothing. The ids make a record sent again
// after a crash between the server's commit and the removal here harmless.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "history/history_entry.h"
#include "history/sql_connection.h"

namespace mirk3 {

class Outbox {
 public:
  // Opens (and makes, with its dir) the buffer file.
  Status Open(const std::string& path);
  bool IsOpen() const { return connection_.IsOpen(); }
  const std::string& Path() const { return path_; }

  // Keeps the entries, in one transaction; an id already kept is not kept twice.
  Status Append(const std::vector<HistoryEntry>& entries);
  // The oldest `limit` entries, with their places for Remove.
  struct Held {
    int64_t seq = 0;
    HistoryEntry entry;
  };
  Result<std::vector<Held>> Oldest(int limit);
  // Removes the entries up to and including `seq` (the server has them).
  Status RemoveThrough(int64_t seq);
  // How many entries wait; -1 when it cannot be read.
  int64_t Count();

 private:
  std::string path_;
  SqlConnection connection_;
};

}  // namespace mirk3
