#pragma once
// The database's schema and its versions. Each version's migration runs in one transaction; the
// version is kept in SQLite's user_version, and in the one-row table schema_version on PostgreSQL.

#include <QSqlDatabase>
#include <QString>

namespace zimble::server {

// The version this program writes.
inline constexpr int SchemaVersion = 2;

// Brings the database to SchemaVersion, applying each missing migration in order (a new database
// gets all of them). A database of a newer version is refused and left untouched. Empty on
// success, else the reason.
QString migrateSchema(QSqlDatabase& db, bool sqlite);

// The reason to refuse a database of a newer version, else empty; reads only.
QString refuseNewerSchema(QSqlDatabase& db, bool sqlite);

// The version stored in the database (0 for one written before versions were kept, or empty).
int storedSchemaVersion(QSqlDatabase& db, bool sqlite, QString* error);

} // namespace zimble::server
