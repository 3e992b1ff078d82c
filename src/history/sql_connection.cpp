#include "history/sql_connection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace mirk3 {
namespace {

QString NewConnectionName() {
  static std::atomic<int> next{0};
  return QString("mirk3-history-%1").arg(next.fetch_add(1));
}

const char* DriverPackage(const QString& driver) {
  return driver == "QPSQL" ? "libqt6sql6-psql" : "libqt6sql6-sqlite";
}

}  // namespace

std::string SqlError(const std::string& what, const QSqlError& error) {
  std::string text = error.text().simplified().toStdString();  // libpq writes several lines
  return what + ": " + (text.empty() ? "unknown database error" : text);
}

Status SqlConnection::Open(const DatabaseTarget& target) {
  Close();
  postgres_ = target.IsPostgres();
  const QString driver = postgres_ ? "QPSQL" : "QSQLITE";
  if (!QSqlDatabase::isDriverAvailable(driver)) {
    return Fail("the Qt SQL driver " + driver.toStdString() +
                " is not installed (Debian: " + DriverPackage(driver) + ")");
  }
  name_ = NewConnectionName();
  db_ = QSqlDatabase::addDatabase(driver, name_);
  if (postgres_) {
    db_.setHostName(QString::fromStdString(target.host));
    if (target.port > 0) db_.setPort(target.port);
    db_.setUserName(QString::fromStdString(target.user));
    db_.setPassword(QString::fromStdString(target.password));
    db_.setDatabaseName(QString::fromStdString(target.dbname));
    // A server that is away must not hold the writer for long: it tries again later.
    db_.setConnectOptions("connect_timeout=5");
  } else {
    db_.setDatabaseName(QString::fromStdString(target.path));
    db_.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
  }
  if (!db_.open()) {
    Status failed = Fail(SqlError("cannot open " + target.Describe(), db_.lastError()));
    Close();
    return failed;
  }
  // libpq prints the server's notices on standard error, into the station's live display.
  Status set = Exec(postgres_ ? "SET client_min_messages TO ERROR" : "PRAGMA journal_mode=WAL");
  if (!set) Close();
  return set;
}

void SqlConnection::Close() {
  if (name_.isEmpty()) return;
  db_.close();
  db_ = QSqlDatabase();  // the last handle must be gone before the name is removed
  QSqlDatabase::removeDatabase(name_);
  name_.clear();
}

Status SqlConnection::Exec(const QString& sql) {
  QSqlQuery query(db_);
  if (query.exec(sql)) return {};
  return Fail(SqlError("the results database refused \"" + sql.left(60).toStdString() + "\"",
                       query.lastError()));
}

void SqlConnection::Rollback() { static_cast<void>(Exec("ROLLBACK")); }

}  // namespace mirk3
