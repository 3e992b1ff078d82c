// One port's result as the history keeps it: the record the station writes (a JSON object, so
// that every field of it, present or added later, is stored), the station's name, the run it
// belongs to and an id made at the station, which keeps a record resent after a lost
// connection from being stored twice.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "history/sql_connection.h"

namespace mirk3 {

struct HistoryEntry {
  std::string id;       // a UUID made at the station
  std::string runId;    // a UUID of the station's run
  std::string station;  // the station's name
  std::string record;   // the JSON object of the results line
};

// A fresh UUID, as text without braces.
std::string NewRecordId();

// The key of a package set: "SLOT=file" for each package in the record's order, with the
// first 12 hex digits of its SHA-256 when the record has one ("AP=AP_X.tar#3f2a..."); "-"
// without packages.
std::string PackageSetKey(const std::string& packagesJson);

// Stores the entries in one transaction; an id already stored is left as it is. Fails, with
// why, when the database refuses (then none of them is stored). A record that is not a JSON
// object is refused before anything is written.
Status StoreEntries(SqlConnection& connection, const std::vector<HistoryEntry>& entries);

}  // namespace mirk3
