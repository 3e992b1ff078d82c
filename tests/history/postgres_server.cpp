#include "postgres_server.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "support/program_run.h"

namespace mirk3::test {
namespace {

const std::string BIN = "/usr/lib/postgresql/15/bin/";

// The server refuses to run as root: the tests then run it as nobody.
bool AsRoot() { return ::geteuid() == 0; }

}  // namespace

std::string PostgresServer::Unavailable() {
  if (!std::filesystem::exists(BIN + "pg_ctl")) {
    return "PostgreSQL 15 is not installed (scripts/install-deps installs postgresql-15)";
  }
  if (AsRoot() && !::getpwnam("nobody")) return "no user nobody to run PostgreSQL as";
  return "";
}

PostgresServer::~PostgresServer() {
  if (running_) RunProgram(AsOwner(BIN + "pg_ctl -D " + dir_ / "data" + " -m immediate stop"));
}

std::string PostgresServer::AsOwner(const std::string& command) const {
  if (!AsRoot()) return command;
  return "runuser -u nobody -- sh -c '" + command + "'";
}

bool PostgresServer::Create(std::string* error) {
  std::filesystem::create_directories(dir_ / "socket");
  if (AsRoot()) {
    RunProgram("chown -R nobody " + dir_.Path().string());
    std::filesystem::permissions(dir_.Path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_exec);
  }
  const ProgramRun init = RunProgram(
      AsOwner(BIN + "initdb -D " + dir_ / "data" + " -U mirk3 --auth=trust --no-sync -E UTF8"));
  if (init.status != 0) {
    *error = "initdb: " + init.out;
    return false;
  }
  if (!Start()) {
    *error = "pg_ctl start failed: " + ReadFile(dir_ / "server.log");
    return false;
  }
  const ProgramRun made =
      RunProgram(AsOwner(BIN + "createdb -h " + dir_ / "socket" + " -U mirk3 history"));
  if (made.status != 0) *error = "createdb: " + made.out;
  return made.status == 0;
}

bool PostgresServer::Start() {
  const ProgramRun run = RunProgram(AsOwner(
      BIN + "pg_ctl -D " + dir_ / "data" + " -l " + dir_ / "server.log" + " -w -o \"-k " +
      dir_ / "socket" + " -c listen_addresses= -c fsync=off\" start"));
  running_ = run.status == 0;
  return running_;
}

bool PostgresServer::Kill() {
  const ProgramRun run =
      RunProgram(AsOwner(BIN + "pg_ctl -D " + dir_ / "data" + " -m immediate -w stop"));
  running_ = run.status != 0;
  return run.status == 0;
}

std::string PostgresServer::Url() const {
  return "postgresql://mirk3@/history?host=" + dir_ / "socket";
}

std::string PostgresServer::Query(const std::string& sql) const {
  return RunProgram(BIN + "psql -X -A -t -h " + dir_ / "socket" + " -U mirk3 history -c \"" +
                    sql + "\"", "/dev/null")
      .out;
}

}  // namespace mirk3::test
