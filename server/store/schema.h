#pragma once
// The database's schema and its versions. Each version's migration runs in one transaction; the
// version is kept where the dialect keeps it (SQLite's user_version, PostgreSQL's one-row table
// schema_version).

#include "storeerror.h"

namespace zimble::server {

class Database;

// The version this program writes.
inline constexpr int SchemaVersion = 4;

// Brings the database to SchemaVersion, applying each missing migration in order (a new database
// gets all of them). A database of a newer version is refused and left untouched. Busy while
// another connection holds the write lock (another instance migrating, say).
Status migrateSchema(Database& db);

// Refuses a database of a newer version; reads only.
Status refuseNewerSchema(Database& db);

} // namespace zimble::server
