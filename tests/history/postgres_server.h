// A real PostgreSQL server of Debian's package for one test: a cluster made in a temporary
// dir and served on a Unix socket only, as an unprivileged user when the test runs as root.
// Stop and Start again as a server lost mid-day and brought back.
#pragma once

#include <string>

#include "support/temp_dir.h"

namespace mirk3::test {

class PostgresServer {
 public:
  ~PostgresServer();
  // Why the server cannot be had here (no packages, no unprivileged user); empty when it can.
  static std::string Unavailable();
  // Makes the cluster and the database `history`, and starts the server.
  bool Create(std::string* error);
  bool Start();
  // Kills the server as a crash or a lost line would: no orderly shutdown.
  bool Kill();
  // postgresql://mirk3@/history?host=<socket dir>
  std::string Url() const;
  // Runs psql's query and returns its unaligned output.
  std::string Query(const std::string& sql) const;

 private:
  std::string AsOwner(const std::string& command) const;
  TempDir dir_;
  bool running_ = false;
};

}  // namespace mirk3::test
