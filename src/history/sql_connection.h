// One connection to an SQLite file or a PostgreSQL server through Qt SQL, owned by the thread
// that opens it (Qt's connections may not cross threads). Each object has a name of its own,
// so a writer thread and a reader on the main thread never share one.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <string>

#include "base/result.h"
#include "history/database_target.h"

namespace mirk3 {

class SqlConnection {
 public:
  SqlConnection() = default;
  ~SqlConnection() { Close(); }
  SqlConnection(const SqlConnection&) = delete;
  SqlConnection& operator=(const SqlConnection&) = delete;

  // Opens the target; SQLite in WAL mode with a busy wait, so that `mirk3-cli results` reads
  // while a station writes. Fails, with why, when the driver is missing or the open fails.
  Status Open(const DatabaseTarget& target);
  // Closes the connection; Open may be called again (a server come back).
  void Close();
  bool IsOpen() const { return !name_.isEmpty() && db_.isOpen(); }
  bool IsPostgres() const { return postgres_; }
  QSqlDatabase& Db() { return db_; }

  // Runs one statement without results; fails with the server's reason.
  Status Exec(const QString& sql);
  // Ends a transaction that failed. Its own failure adds nothing to the first one: the
  // transaction is gone either way.
  void Rollback();

 private:
  QString name_;
  QSqlDatabase db_;
  bool postgres_ = false;
};

// "<what>: <the driver's and the database's text>".
std::string SqlError(const std::string& what, const QSqlError& error);

}  // namespace mirk3
