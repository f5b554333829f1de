#include "schema.h"

#include "game/boardsize.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace zimble::server {

namespace {

// Version 1: the tables as the first releases wrote them, without a version number. Every
// statement tolerates tables that exist already, so a database of those releases passes through.
QStringList versionOne(bool sqlite)
{
    const QString id = sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT") : QStringLiteral("BIGSERIAL PRIMARY KEY");
    QStringList s{
        QStringLiteral("CREATE TABLE IF NOT EXISTS submissions (id %1, name TEXT NOT NULL,"
                       " score4 BIGINT NOT NULL, score5 BIGINT NOT NULL, score6 BIGINT NOT NULL, score7 BIGINT NOT NULL,"
                       " client TEXT NOT NULL, submitted_at TEXT NOT NULL)")
            .arg(id),
        QStringLiteral("CREATE TABLE IF NOT EXISTS records (board INTEGER PRIMARY KEY, score BIGINT NOT NULL,"
                       " holder TEXT NOT NULL, set_at TEXT NOT NULL)"),
        QStringLiteral("DROP INDEX IF EXISTS submissions_by_name"),
        // The moderation count: --remove-name raises it, so running services read the standings anew.
        QStringLiteral("CREATE TABLE IF NOT EXISTS moderation (id INTEGER PRIMARY KEY, generation BIGINT NOT NULL)"),
        QStringLiteral("INSERT INTO moderation (id, generation) VALUES (1, 0) ON CONFLICT (id) DO NOTHING"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS replays (id %1, submission_id BIGINT, board INTEGER NOT NULL,"
                       " name TEXT NOT NULL, score BIGINT NOT NULL, cycles INTEGER NOT NULL, clicks TEXT NOT NULL,"
                       " verified INTEGER NOT NULL, reason TEXT NOT NULL, client TEXT NOT NULL, received_at TEXT NOT NULL)")
            .arg(id),
        QStringLiteral("CREATE TABLE IF NOT EXISTS verified_records (board INTEGER PRIMARY KEY, score BIGINT NOT NULL,"
                       " holder TEXT NOT NULL, set_at TEXT NOT NULL, submission_id BIGINT NOT NULL DEFAULT 0)"),
    };
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        s << QStringLiteral("DROP INDEX IF EXISTS submissions_by_score%1").arg(board);
        for (const char* table : {"records", "verified_records"})
            s << QStringLiteral("INSERT INTO %1 (board, score, holder, set_at) VALUES (%2, 0, '', '') "
                                "ON CONFLICT (board) DO NOTHING")
                     .arg(QLatin1String(table))
                     .arg(board);
    }
    return s;
}

// Version 2: each player's best on each board, kept with every submission, so that start-up
// reads one row per player and board instead of every submission; and the indexes that the
// week's ten best, the export, moderation and a player's history read by.
QStringList versionTwo(bool sqlite)
{
    QStringList s{
        // Kept in key order (SQLite: one tree, no separate index).
        QStringLiteral("CREATE TABLE bests (board INTEGER NOT NULL, name TEXT NOT NULL, score BIGINT NOT NULL,"
                       " submission_id BIGINT NOT NULL, set_at TEXT NOT NULL, PRIMARY KEY (board, name))%1")
            .arg(sqlite ? QStringLiteral(" WITHOUT ROWID") : QString()),
        QStringLiteral("CREATE INDEX submissions_by_time ON submissions (submitted_at)"),
        QStringLiteral("CREATE INDEX replays_by_submission ON replays (submission_id)"),
        QStringLiteral("CREATE INDEX submissions_by_player ON submissions (name)"),
        QStringLiteral("CREATE INDEX replays_by_player ON replays (name)"),
    };
    // The best is the highest score, the earliest submission of equal ones.
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board)
        s << QStringLiteral("INSERT INTO bests (board, name, score, submission_id, set_at) "
                            "SELECT %1, name, score%1, id, submitted_at FROM (SELECT name, score%1, id, submitted_at, "
                            "ROW_NUMBER() OVER (PARTITION BY name ORDER BY score%1 DESC, id ASC) AS n "
                            "FROM submissions WHERE score%1 > 0) t WHERE n = 1")
                 .arg(board);
    return s;
}

using Migration = QStringList (*)(bool sqlite);
constexpr Migration Migrations[] = {versionOne, versionTwo}; // Migrations[i] makes version i + 1
static_assert(std::size(Migrations) == SchemaVersion);

bool run(QSqlDatabase& db, const QString& sql, QString* error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    *error = q.lastError().text();
    return false;
}

} // namespace

int storedSchemaVersion(QSqlDatabase& db, bool sqlite, QString* error)
{
    QSqlQuery q(db);
    if (sqlite) {
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
            *error = q.lastError().text();
            return -1;
        }
        return q.value(0).toInt();
    }
    if (!q.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) || !q.next()) {
        *error = q.lastError().text();
        return -1;
    }
    if (!q.value(0).toBool())
        return 0;
    if (!q.exec(QStringLiteral("SELECT version FROM schema_version WHERE id = 1"))) {
        *error = q.lastError().text();
        return -1;
    }
    return q.next() ? q.value(0).toInt() : 0;
}

namespace {

QString newerText(int version)
{
    return QStringLiteral("the database has schema version %1, newer than this program's %2; "
                          "use a newer zimble-scored (the database was left as it was)")
        .arg(version)
        .arg(SchemaVersion);
}

} // namespace

QString refuseNewerSchema(QSqlDatabase& db, bool sqlite)
{
    QString error;
    const int version = storedSchemaVersion(db, sqlite, &error);
    return version > SchemaVersion ? newerText(version) : QString();
}

QString migrateSchema(QSqlDatabase& db, bool sqlite)
{
    QString error;
    // Instances starting together must not migrate twice: PostgreSQL serializes them with an
    // advisory lock, SQLite with its write lock (taken by BEGIN IMMEDIATE, waiting while busy).
    if (!sqlite && !run(db, QStringLiteral("SELECT pg_advisory_lock(84170001)"), &error))
        return error;
    // BEGIN IMMEDIATE waits for the write lock for the connection's busy timeout.
    const QString begin = sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN");
    for (;;) {
        if (!run(db, begin, &error))
            return error;
        const int version = storedSchemaVersion(db, sqlite, &error);
        if (version < 0 || version >= SchemaVersion) {
            run(db, QStringLiteral("ROLLBACK"), &error);
            if (!sqlite)
                run(db, QStringLiteral("SELECT pg_advisory_unlock(84170001)"), &error);
            if (version < 0)
                return error;
            if (version > SchemaVersion)
                return newerText(version);
            return {};
        }
        // One migration per transaction: a failure leaves the database at the version before it.
        QStringList statements = Migrations[version](sqlite);
        if (sqlite)
            statements << QStringLiteral("PRAGMA user_version = %1").arg(version + 1);
        else
            statements << QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (id INTEGER PRIMARY KEY, version INTEGER NOT NULL)")
                       << QStringLiteral("INSERT INTO schema_version (id, version) VALUES (1, %1) "
                                         "ON CONFLICT (id) DO UPDATE SET version = excluded.version")
                              .arg(version + 1);
        statements << QStringLiteral("COMMIT");
        for (const QString& sql : std::as_const(statements)) {
            if (!run(db, sql, &error)) {
                const QString reason = QStringLiteral("migrating the schema to version %1 failed: %2").arg(version + 1).arg(error);
                run(db, QStringLiteral("ROLLBACK"), &error);
                if (!sqlite)
                    run(db, QStringLiteral("SELECT pg_advisory_unlock(84170001)"), &error);
                return reason;
            }
        }
    }
}

} // namespace zimble::server
