#pragma once
// SQLite's own connection behind a Qt connection, for what Qt does not offer (the online backup,
// reading or writing millions of rows). Qt's driver and this program use the same libsqlite3.

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace zimble::server {

inline sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.constData());
}

} // namespace zimble::server
