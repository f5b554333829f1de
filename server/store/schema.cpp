#include "schema.h"
#include "database.h"

#include "game/boardsize.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace zimble::server {

namespace {

// Version 1: the tables as the first releases wrote them, without a version number. Every
// statement tolerates tables that exist already, so a database of those releases passes through.
QStringList versionOne(const Database& db)
{
    const QString id = db.idColumn();
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
QStringList versionTwo(const Database& db)
{
    QStringList s{
        QStringLiteral("CREATE TABLE bests (board INTEGER NOT NULL, name TEXT NOT NULL, score BIGINT NOT NULL,"
                       " submission_id BIGINT NOT NULL, set_at TEXT NOT NULL, PRIMARY KEY (board, name))%1")
            .arg(db.keyedTableOptions()),
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

// Version 3: the clock at each click of a replay, in the steps a replay request carries them
// (encodeClickCycles); '' for a replay sent without them (shown at an even pace).
QStringList versionThree(const Database&)
{
    return {QStringLiteral("ALTER TABLE replays ADD COLUMN click_cycles TEXT NOT NULL DEFAULT ''")};
}

// Version 4: the bests keyed by name first, so that one name's four boards share a page and a
// submission that sets several bests writes one page of the table, not one per board.
QStringList versionFour(const Database& db)
{
    return {
        QStringLiteral("CREATE TABLE bests_by_name (name TEXT NOT NULL, board INTEGER NOT NULL, score BIGINT NOT NULL,"
                       " submission_id BIGINT NOT NULL, set_at TEXT NOT NULL, PRIMARY KEY (name, board))%1")
            .arg(db.keyedTableOptions()),
        QStringLiteral("INSERT INTO bests_by_name (name, board, score, submission_id, set_at) "
                       "SELECT name, board, score, submission_id, set_at FROM bests ORDER BY name, board"),
        QStringLiteral("DROP TABLE bests"),
        QStringLiteral("ALTER TABLE bests_by_name RENAME TO bests"),
    };
}

using Migration = QStringList (*)(const Database& db);
constexpr Migration Migrations[] = {versionOne, versionTwo, versionThree, versionFour}; // Migrations[i] makes version i + 1
static_assert(std::size(Migrations) == SchemaVersion);

QString newerText(int version)
{
    return QStringLiteral("the database has schema version %1, newer than this program's %2; "
                          "use a newer zimble-scored (the database was left as it was)")
        .arg(version)
        .arg(SchemaVersion);
}

// One migration in one transaction: a failure leaves the database at the version before it.
// Whether it ran in `migrated` (false when another connection had done it).
Status migrateOnce(Database& db, bool* migrated)
{
    *migrated = false;
    // BEGIN IMMEDIATE (SQLite) waits for the write lock for the connection's busy timeout.
    if (Status s = db.beginWrite(); !s)
        return s;
    int version = 0;
    if (Status s = db.readSchemaVersion(&version); !s) {
        db.rollback();
        return s;
    }
    if (version >= SchemaVersion) {
        db.rollback();
        return version > SchemaVersion ? Status::refused(newerText(version)) : Status();
    }
    QStringList statements = Migrations[version](db);
    statements << db.writeSchemaVersion(version + 1);
    for (const QString& sql : std::as_const(statements)) {
        if (Status s = db.exec(sql); !s) {
            db.rollback();
            if (s.is(StoreError::Kind::Busy) || s.is(StoreError::Kind::Lost))
                return s;
            return Status::refused(QStringLiteral("migrating the schema to version %1 failed: %2").arg(version + 1).arg(s.reason()));
        }
    }
    if (Status s = db.commit(); !s) {
        db.rollback();
        return s;
    }
    *migrated = true;
    return {};
}

} // namespace

Status refuseNewerSchema(Database& db)
{
    int version = 0;
    if (Status s = db.readSchemaVersion(&version); !s)
        return s;
    return version > SchemaVersion ? Status::refused(newerText(version)) : Status();
}

Status migrateSchema(Database& db)
{
    if (Status s = db.lockSchema(); !s)
        return s;
    Status s;
    for (bool migrated = true; s && migrated;)
        s = migrateOnce(db, &migrated);
    db.unlockSchema();
    return s;
}

} // namespace zimble::server
