#include "history/database_target.h"

#include <QUrl>
#include <QUrlQuery>

namespace mirk3 {

std::string DatabaseTarget::Describe() const {
  if (!IsPostgres()) return path;
  std::string text = "postgresql://" + (user.empty() ? "" : user + "@") + host;
  if (port > 0) text += ":" + std::to_string(port);
  return text + "/" + dbname;
}

Result<DatabaseTarget> ParseDatabaseTarget(const std::string& text) {
  const QString given = QString::fromStdString(text);
  if (text.empty()) return Fail("no results database is named");
  if (!given.startsWith("postgresql://") && !given.startsWith("postgres://")) {
    if (given.contains("://")) {
      return Fail("\"" + text + "\" is neither a file nor a postgresql:// URL");
    }
    DatabaseTarget target;
    target.path = text;
    return target;
  }
  const QUrl url(given, QUrl::StrictMode);
  DatabaseTarget target;
  target.kind = DatabaseTarget::Kind::Postgres;
  target.user = url.userName(QUrl::FullyDecoded).toStdString();
  target.password = url.password(QUrl::FullyDecoded).toStdString();
  target.host = url.host(QUrl::FullyDecoded).toStdString();
  target.dbname = url.path(QUrl::FullyDecoded).mid(1).toStdString();
  const QUrlQuery query(url);
  if (query.hasQueryItem("host")) {
    target.host = query.queryItemValue("host", QUrl::FullyDecoded).toStdString();
  }
  const int port = url.port(0);
  if (!url.isValid() || port < 0 || target.dbname.empty() ||
      target.dbname.find('/') != std::string::npos) {
    return Fail("\"" + text +
                "\" is not a database URL such as postgresql://user@host/dbname "
                "(?host=/socket/dir for a Unix socket)");
  }
  target.port = port;
  return target;
}

}  // namespace mirk3
