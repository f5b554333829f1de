#include "scorestore.h"
#include "isotime.h"
#include "schema.h"
#include "sqlitehandle.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>

#include <malloc.h>
#include <pwd.h>
#include <unistd.h>

namespace zimble::server {

namespace {

QString currentUser()
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
}

// Why an SQLite file cannot be opened where SQLite itself would only say "unable to open
// database file": its folder is missing or not writable (the write-ahead log lives beside it).
QString sqliteFolderProblem(const QString& file)
{
    if (file == QLatin1String(":memory:") || file.startsWith(QLatin1String("file:")))
        return {};
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists())
        return QStringLiteral("folder %1 does not exist").arg(folder);
    if (!folderInfo.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("folder %1 is not writable by user %2").arg(folder, currentUser());
    if (info.exists() && ::access(QFile::encodeName(info.absoluteFilePath()).constData(), R_OK | W_OK) != 0)
        return QStringLiteral("file %1 is not writable by user %2").arg(info.absoluteFilePath(), currentUser());
    return {};
}

// A failed PostgreSQL connection in the operator's terms where libpq's reason is a common one,
// else libpq's own text on one line.
QString postgresProblem(const QUrl& url, const QSqlError& error)
{
    const QString reason = error.databaseText();
    if (reason.contains(QLatin1String("Connection refused"))) {
        const QString host = !url.host().isEmpty() ? url.host() : qEnvironmentVariable("PGHOST", QStringLiteral("localhost"));
        const int port = url.port(qEnvironmentVariableIntValue("PGPORT") > 0 ? qEnvironmentVariableIntValue("PGPORT") : 5432);
        return QStringLiteral("PostgreSQL at %1:%2 refused the connection (is it running and listening there?)").arg(host, QString::number(port));
    }
    if (reason.contains(QLatin1String("authentication failed")) || reason.contains(QLatin1String("no password supplied"))) {
        const QString user = !url.userName().isEmpty() ? url.userName() : qEnvironmentVariable("PGUSER", currentUser());
        return QStringLiteral("authentication failed for user %1 (the password comes from the URL, PGPASSWORD, "
                              "PGPASSFILE or ~/.pgpass)").arg(user);
    }
    return error.text().simplified();
}

} // namespace

QString printableLocation(const QString& location)
{
    // Read as text rather than through QUrl, so that even a URL QUrl cannot parse loses its
    // password: the user part ends at the last '@', and the password starts at its first ':'.
    const qsizetype schemeEnd = location.indexOf(QLatin1String("://"));
    const QString scheme = location.left(schemeEnd).toLower();
    if (schemeEnd < 0 || (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres")))
        return location;
    const qsizetype start = schemeEnd + 3;
    const qsizetype at = location.lastIndexOf(QLatin1Char('@'));
    if (at < start)
        return location;
    const qsizetype colon = location.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return location;
    return location.left(colon) + location.mid(at);
}

ScoreStore::ScoreStore(const QString& location, bool verifiedOnly)
    // Unique among the stores alive at once; the destructor removes the connection by this name.
    : m_connection(QStringLiteral("zimble-store-%1").arg(quintptr(this), 0, 16))
    , m_location(location)
    , m_verifiedOnly(verifiedOnly)
    , m_boards(verifiedOnly)
{
    const QUrl url(location);
    m_sqlite = !(url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("postgres"));
    QSqlDatabase db = QSqlDatabase::addDatabase(m_sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), m_connection);
    if (!db.isValid()) {
        m_error = QStringLiteral("the database driver for %1 is not installed").arg(m_sqlite ? "SQLite" : "PostgreSQL");
        return;
    }
    if (m_sqlite) {
        if (m_error = sqliteFolderProblem(location); !m_error.isEmpty())
            return;
        db.setDatabaseName(location);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(url.host());
        if (url.port() > 0)
            db.setPort(url.port());
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setDatabaseName(url.path().mid(1));
    }
    if (!db.open()) {
        m_error = m_sqlite ? db.lastError().text().simplified() : postgresProblem(url, db.lastError());
        return;
    }
    // A database of a newer program is left exactly as it is (not even its journal mode changed).
    QString error = refuseNewerSchema(db, m_sqlite);
    if (!error.isEmpty()) {
        m_error = error;
        return;
    }
    if (!openConnection())
        return;
    error = migrateSchema(db, m_sqlite);
    if (!error.isEmpty()) {
        m_error = error;
        return;
    }
    m_open = prepareStatements();
}

bool ScoreStore::openConnection()
{
    // Every acknowledged submission must be on disk: SQLite syncs the log at each commit with
    // synchronous=FULL; PostgreSQL does so with synchronous_commit on (its default, made sure).
    // A page cache of 16 MB (2 MB by default) keeps more of the score indexes in memory.
    if (m_sqlite)
        return execStartup(QStringLiteral("PRAGMA journal_mode=WAL")) && execStartup(QStringLiteral("PRAGMA synchronous=FULL"))
            && exec(QStringLiteral("PRAGMA cache_size=-16384"));
    return exec(QStringLiteral("SET client_min_messages TO WARNING")) && exec(QStringLiteral("SET synchronous_commit TO on"));
}

void ScoreStore::resetStatements()
{
    m_insert.reset();
    m_update.reset();
    m_readRecords.reset();
    m_lockRecords.reset();
    m_since.reset();
    m_generation.reset();
    m_replaysSince.reset();
    m_insertReplay.reset();
    m_updateVerified.reset();
    m_readVerified.reset();
    m_lockVerified.reset();
    m_submissionExists.reset();
    m_upsertBest.reset();
}

ScoreStore::~ScoreStore()
{
    resetStatements();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool ScoreStore::fail(const QSqlQuery& q)
{
    // On one line: PostgreSQL's texts carry line breaks.
    m_error = q.lastError().text().simplified();
    m_errorCode = q.lastError().nativeErrorCode();
    if (m_sqlite && m_errorCode == QLatin1String("26")) // SQLITE_NOTADB
        m_error = QStringLiteral("not a database (the file is not an SQLite database)");
    if (m_error.trimmed().isEmpty()) {
        // A connection the server ended is closed by the driver, and statements then fail silently.
        const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        m_error = db.lastError().text().trimmed();
        if (m_error.isEmpty())
            m_error = db.isOpen() ? QStringLiteral("the database gave no reason") : QStringLiteral("the server closed the connection");
    }
    return false;
}

void ScoreStore::checkConnection()
{
    if (m_sqlite || m_lost)
        return;
    // A statement that failed for its own reason leaves the connection answering.
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isOpen()) {
        m_lost = true;
        return;
    }
    QSqlQuery probe(db);
    if (probe.exec(QStringLiteral("SELECT 1")))
        return;
    m_lost = true;
    if (m_error.trimmed().isEmpty())
        m_error = probe.lastError().text();
}

bool ScoreStore::reconnect()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    db.close();
    resetStatements();
    if (!db.open()) {
        m_error = db.lastError().text();
        return false;
    }
    if (!openConnection() || !prepareStatements())
        return false;
    if (m_changed && !db.driver()->subscribeToNotification(QStringLiteral("zimble_changed"))) {
        m_error = db.driver()->lastError().text();
        return false;
    }
    m_lost = false;
    // What others stored while this connection was away (no notification told of it).
    return catchUp();
}

bool ScoreStore::listenForChanges(std::function<void()> changed)
{
    if (m_sqlite)
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlDriver* driver = db.driver();
    if (!driver->hasFeature(QSqlDriver::EventNotifications))
        return false;
    m_changed = std::move(changed);
    QObject::connect(driver, &QSqlDriver::notification, driver,
                     [this](const QString&, QSqlDriver::NotificationSource source, const QVariant&) {
                         if (source != QSqlDriver::SelfSource && m_changed)
                             m_changed();
                     });
    return driver->subscribeToNotification(QStringLiteral("zimble_changed"));
}

bool ScoreStore::notifyOthers()
{
    // Delivered at the commit, to every instance listening (PostgreSQL); SQLite's instances
    // look at the file's data version.
    return m_sqlite || exec(QStringLiteral("NOTIFY zimble_changed"));
}

bool ScoreStore::exec(const QString& sql)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(sql))
        return fail(q);
    return true;
}

bool ScoreStore::isBusyError() const
{
    // SQLite: SQLITE_BUSY, SQLITE_LOCKED. PostgreSQL: serialization failure, deadlock.
    return m_errorCode == QLatin1String("5") || m_errorCode == QLatin1String("6")
        || m_errorCode == QLatin1String("40001") || m_errorCode == QLatin1String("40P01");
}

bool ScoreStore::execStartup(const QString& sql)
{
    // Some start-up statements (switching the journal mode) do not wait for a busy database;
    // retry them for about 15 s, so instances started together all come up.
    return retry([&] { return exec(sql); }, 750, 20, false);
}

bool ScoreStore::prepareStatements()
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    auto make = [&](std::unique_ptr<QSqlQuery>& q, const QString& sql) {
        q = std::make_unique<QSqlQuery>(db);
        q->setForwardOnly(true);
        return q->prepare(sql) || fail(*q);
    };
    bool ok = make(m_insert, QStringLiteral("INSERT INTO submissions (name, score4, score5, score6, score7, client, submitted_at) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id"))
        // Compare and set in one statement: only a strictly higher score replaces the record.
        && make(m_update, QStringLiteral("UPDATE records SET score = ?, holder = ?, set_at = ? WHERE board = ? AND score < ?"))
        && make(m_readRecords, QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board"))
        // PostgreSQL: every transaction takes the records in one order and holds them to its end,
        // so batches of several instances cannot deadlock.
        && make(m_lockRecords, m_sqlite ? QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board")
                                        : QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board FOR UPDATE"))
        && make(m_since, QStringLiteral("SELECT id, name, score4, score5, score6, score7, submitted_at FROM submissions "
                                        "WHERE id > ? ORDER BY id LIMIT 5000"))
        && make(m_generation, QStringLiteral("SELECT generation FROM moderation WHERE id = 1"))
        && make(m_replaysSince, QStringLiteral("SELECT r.id, r.submission_id, r.board, r.name, r.score, s.submitted_at "
                                               "FROM replays r JOIN submissions s ON s.id = r.submission_id "
                                               "WHERE r.id > ? AND r.verified = 1 ORDER BY r.id LIMIT 5000"))
        && make(m_insertReplay, QStringLiteral("INSERT INTO replays (submission_id, board, name, score, cycles, clicks, "
                                               "verified, reason, client, received_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
        // Strictly higher wins; on an equal score the earlier submission does, as in the standings.
        && make(m_updateVerified, QStringLiteral("UPDATE verified_records SET score = ?, holder = ?, set_at = ?, "
                                                 "submission_id = ? WHERE board = ? AND (score < ? OR (score = ? AND "
                                                 "submission_id > ?))"))
        && make(m_submissionExists, QStringLiteral("SELECT id FROM submissions WHERE id = ?"))
        // Each player's best on each board: strictly higher replaces it, an equal score keeps the earlier.
        && make(m_upsertBest, QStringLiteral("INSERT INTO bests (board, name, score, submission_id, set_at) VALUES (?, ?, ?, ?, ?) "
                                             "ON CONFLICT (board, name) DO UPDATE SET score = excluded.score, "
                                             "submission_id = excluded.submission_id, set_at = excluded.set_at "
                                             "WHERE excluded.score > bests.score"))
        && make(m_readVerified, QStringLiteral("SELECT board, score, holder, set_at FROM verified_records ORDER BY board"))
        && make(m_lockVerified, m_sqlite ? QStringLiteral("SELECT board, score, holder, set_at FROM verified_records ORDER BY board")
                                         : QStringLiteral("SELECT board, score, holder, set_at FROM verified_records "
                                                          "ORDER BY board FOR UPDATE"));
    return ok;
}

bool ScoreStore::submitBatch(const QList<Submission>& batch, QList<QList<int>>* won, WorldRecords* after)
{
    // Waiting for a busy database happens here, on the storage thread, never where requests are served.
    if (m_lost) {
        m_error = QStringLiteral("the connection to the database is lost; reconnecting");
        return false;
    }
    // The standings come first: without them a batch would take in every stored submission.
    if (!ensureStandings())
        return false;
    return retry([&] { return runBatch(batch, won, after); }, 5, 25);
}

bool ScoreStore::runBatch(const QList<Submission>& batch, QList<QList<int>>* won, WorldRecords* after)
{
    if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return false;
    // The records are locked for the whole transaction (SQLite's write lock, PostgreSQL's row
    // locks), so the ones read here stay true and an update that cannot win is skipped. As every
    // writer takes them first, submission ids also grow in commit order.
    WorldRecords current;
    if (!readRecords(*m_lockRecords, current))
        return false;
    // What other writers stored before this transaction, then this batch: the ten best take
    // both in once the commit has succeeded.
    QList<StoredSubmission> stored;
    if (!readSince(m_boards, &stored))
        return false;
    // Each name's best in memory is never above the table's while no moderation or import has
    // happened since it was read (those raise the count): a score not above it needs no upsert.
    qint64 generation = 0;
    if (!readGeneration(&generation))
        return false;
    const bool memoryBelowTable = generation == m_seenGeneration;
    QList<QList<int>> wins;
    const QString now = isoNow();
    const QDateTime nowTime = QDateTime::fromString(now, Qt::ISODateWithMs);
    for (const Submission& s : batch) {
        m_insert->bindValue(0, s.name);
        for (int i = 0; i < BoardSizeCount; ++i)
            m_insert->bindValue(1 + i, s.scores[i]);
        m_insert->bindValue(5, s.client);
        m_insert->bindValue(6, now);
        if (!m_insert->exec() || !m_insert->next())
            return fail(*m_insert);
        const qint64 id = m_insert->value(0).toLongLong();
        stored.append({id, nowTime, s.name, s.client, s.scores});
        m_insert->finish();
        for (int i = 0; i < BoardSizeCount; ++i) {
            if (s.scores[i] <= 0)
                continue;
            if (memoryBelowTable) {
                const std::optional<Standings::Best> known = m_boards.best(i, s.name);
                if (known && known->score >= s.scores[i])
                    continue;
            }
            m_upsertBest->bindValue(0, FirstBoard + i);
            m_upsertBest->bindValue(1, s.name);
            m_upsertBest->bindValue(2, s.scores[i]);
            m_upsertBest->bindValue(3, id);
            m_upsertBest->bindValue(4, now);
            if (!m_upsertBest->exec())
                return fail(*m_upsertBest);
        }
        QList<int> mine;
        for (int i = 0; i < BoardSizeCount; ++i) {
            if (s.scores[i] <= current[i].score)
                continue;
            m_update->bindValue(0, s.scores[i]);
            m_update->bindValue(1, s.name);
            m_update->bindValue(2, now);
            m_update->bindValue(3, FirstBoard + i);
            m_update->bindValue(4, s.scores[i]);
            if (!m_update->exec())
                return fail(*m_update);
            if (m_update->numRowsAffected() > 0) {
                mine.append(FirstBoard + i);
                current[i].score = s.scores[i];
            }
        }
        wins.append(mine);
    }
    WorldRecords result;
    if (!records(result) || !notifyOthers() || !exec(QStringLiteral("COMMIT")))
        return false;
    for (const StoredSubmission& s : stored)
        m_boards.stored(s);
    followWeek(m_boards);
    // Counting verified games only, a bare submission sets no record; its replay may.
    if (m_verifiedOnly)
        wins = QList<QList<int>>(batch.size());
    if (won)
        *won = wins;
    if (after)
        *after = result;
    return true;
}

bool ScoreStore::records(WorldRecords& out)
{
    if (!readRecords(m_verifiedOnly ? *m_readVerified : *m_readRecords, out))
        return false;
    for (int i = 0; i < BoardSizeCount; ++i)
        out[i].verified = m_verifiedOnly ? !out[i].holder.isEmpty() : m_boards.isVerified(FirstBoard + i, out[i].holder, out[i].score);
    return true;
}

bool ScoreStore::readRecords(QSqlQuery& q, WorldRecords& out)
{
    if (!q.exec())
        return fail(q);
    out = WorldRecords();
    while (q.next()) {
        const int board = q.value(0).toInt();
        if (board < FirstBoard || board > LastBoard)
            continue;
        WorldRecord& r = out[board - FirstBoard];
        r.score = q.value(1).toLongLong();
        r.holder = q.value(2).toString();
        r.setAt = fromIso(q.value(3));
    }
    q.finish();
    return true;
}

bool ScoreStore::readSince(Leaderboards& into, QList<StoredSubmission>* pending)
{
    // In chunks, so that a whole table is never held at once (PostgreSQL sends all rows of a
    // result). With `pending`, the rows wait there for the commit of the transaction at hand.
    qint64 from = into.lastId();
    for (;;) {
        m_since->bindValue(0, from);
        if (!m_since->exec())
            return fail(*m_since);
        int rows = 0;
        while (m_since->next()) {
            ++rows;
            StoredSubmission s;
            s.id = m_since->value(0).toLongLong();
            s.name = m_since->value(1).toString();
            for (int i = 0; i < BoardSizeCount; ++i)
                s.scores[i] = m_since->value(2 + i).toLongLong();
            s.at = fromIso(m_since->value(6));
            from = s.id;
            if (pending)
                pending->append(s);
            else
                into.stored(s);
        }
        m_since->finish();
        if (rows < 5000)
            return true;
    }
}

bool ScoreStore::loadStandings(Leaderboards& into)
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // One snapshot: the bests and the last submission they include.
    if (!exec(m_sqlite ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ")))
        return false;
    auto end = [&](bool ok) {
        if (ok)
            return exec(QStringLiteral("COMMIT"));
        const QString error = m_error;
        exec(QStringLiteral("ROLLBACK"));
        m_error = error;
        return false;
    };
    QSqlQuery last(db);
    last.setForwardOnly(true);
    if (!last.exec(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM submissions")) || !last.next())
        return end(fail(last));
    const qint64 lastId = last.value(0).toLongLong();
    last.finish();
    auto add = [&into](int board, QByteArrayView name, qint64 score, qint64 id, QByteArrayView at) {
        std::optional<qint64> ms = parseUtcIso(at);
        if (!ms)
            ms = QDateTime::fromString(QString::fromUtf8(at), Qt::ISODateWithMs).toMSecsSinceEpoch();
        into.load(board - FirstBoard, name, score, id, *ms);
    };
    QSqlQuery counts(db);
    counts.setForwardOnly(true);
    if (!counts.exec(QStringLiteral("SELECT board, count(*) FROM bests GROUP BY board")))
        return end(fail(counts));
    while (counts.next())
        into.reserveLoad(counts.value(0).toInt() - FirstBoard, counts.value(1).toLongLong());
    counts.finish();
    const QString sql = QStringLiteral("SELECT board, name, score, submission_id, set_at FROM bests");
    if (sqlite3* handle = m_sqlite ? sqliteHandle(db) : nullptr) {
        // Start-up reads every player's bests: SQLite's own interface reads them several times
        // faster than one QVariant per value.
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(handle, sql.toUtf8().constData(), -1, &st, nullptr);
        while (rc == SQLITE_OK || rc == SQLITE_ROW) {
            if ((rc = sqlite3_step(st)) != SQLITE_ROW)
                break;
            const auto text = [&](int column) {
                return QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(st, column)), sqlite3_column_bytes(st, column));
            };
            add(sqlite3_column_int(st, 0), text(1), sqlite3_column_int64(st, 2), sqlite3_column_int64(st, 3), text(4));
        }
        if (rc != SQLITE_DONE)
            m_error = QString::fromUtf8(sqlite3_errmsg(handle));
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            return end(false);
    } else {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(sql))
            return end(fail(q));
        while (q.next())
            add(q.value(0).toInt(), q.value(1).toString().toUtf8(), q.value(2).toLongLong(), q.value(3).toLongLong(),
                q.value(4).toString().toUtf8());
    }
    into.finishLoad(lastId);
    // What loading used for a while goes back to the system, not only to the allocator.
    ::malloc_trim(0);
    return end(true);
}

bool ScoreStore::readGeneration(qint64* out)
{
    if (!m_generation->exec() || !m_generation->next())
        return fail(*m_generation);
    *out = m_generation->value(0).toLongLong();
    m_generation->finish();
    return true;
}

bool ScoreStore::catchUp()
{
    qint64 generation = 0;
    if (!readGeneration(&generation))
        return false;
    if (generation != m_seenGeneration || !m_boards.isRead()) {
        // First use, or names were removed or imported: read the leaderboards anew. The old ones
        // go first (memory for one set only); a failed read leaves them unread, to be read again.
        m_boards = Leaderboards(m_verifiedOnly);
        Leaderboards fresh(m_verifiedOnly);
        if (!loadStandings(fresh) || !readSince(fresh, nullptr) || !readReplaysSince(fresh) || !followWeek(fresh))
            return false;
        fresh.markRead();
        m_boards = std::move(fresh);
        m_seenGeneration = generation;
        return true;
    }
    return readSince(m_boards, nullptr) && readReplaysSince(m_boards) && followWeek(m_boards);
}

bool ScoreStore::pageData(PageData& out)
{
    if (!ensureStandings())
        return false;
    WorldRecords r;
    if (!followWeek(m_boards) || !records(r))
        return false;
    out = m_boards.page(r);
    return true;
}

bool ScoreStore::changedElsewhere()
{
    if (!m_sqlite)
        return true;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next())
        return true;
    const qint64 v = q.value(0).toLongLong();
    const bool changed = v != m_dataVersion;
    m_dataVersion = v;
    return changed;
}

bool ScoreStore::followWeek(Leaderboards& into)
{
    const QDateTime start = weekStart(QDateTime::currentDateTimeUtc());
    if (start == into.weekStart())
        return true;
    // A new week: its ten best start from this week's submissions and verified replays. The
    // week moves on only once they have been read, so a failed read is tried again.
    Leaderboards::Week week = into.newWeek(start);
    const QString from = start.toString(Qt::ISODateWithMs);
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, name, score4, score5, score6, score7, submitted_at FROM submissions "
                             "WHERE submitted_at >= ? AND id <= ?"));
    q.addBindValue(from);
    q.addBindValue(into.lastId());
    if (!q.exec())
        return fail(q);
    while (q.next()) {
        StoredSubmission s;
        s.id = q.value(0).toLongLong();
        s.name = q.value(1).toString();
        for (int i = 0; i < BoardSizeCount; ++i)
            s.scores[i] = q.value(2 + i).toLongLong();
        s.at = fromIso(q.value(6));
        week.stored(s);
    }
    QSqlQuery v(db);
    v.setForwardOnly(true);
    v.prepare(QStringLiteral("SELECT r.board, r.name, r.score, r.submission_id, s.submitted_at FROM replays r "
                             "JOIN submissions s ON s.id = r.submission_id "
                             "WHERE r.verified = 1 AND s.submitted_at >= ? AND r.id <= ?"));
    v.addBindValue(from);
    v.addBindValue(into.lastReplayId());
    if (!v.exec())
        return fail(v);
    while (v.next()) {
        week.verified({0, v.value(3).toLongLong(), v.value(0).toInt(), v.value(1).toString(), v.value(2).toLongLong(),
                       fromIso(v.value(4))});
    }
    into.turnWeek(std::move(week));
    return true;
}

bool ScoreStore::readReplaysSince(Leaderboards& into)
{
    for (;;) {
        m_replaysSince->bindValue(0, into.lastReplayId());
        if (!m_replaysSince->exec())
            return fail(*m_replaysSince);
        int rows = 0;
        while (m_replaysSince->next()) {
            ++rows;
            into.verified({m_replaysSince->value(0).toLongLong(), m_replaysSince->value(1).toLongLong(),
                           m_replaysSince->value(2).toInt(), m_replaysSince->value(3).toString(),
                           m_replaysSince->value(4).toLongLong(), fromIso(m_replaysSince->value(5))});
        }
        m_replaysSince->finish();
        if (rows < 5000)
            return true;
    }
}

bool ScoreStore::retry(const std::function<bool()>& work, int attempts, int pauseMs, bool transaction)
{
    for (int attempt = 0;; ++attempt) {
        if (work())
            return true;
        const QString error = m_error, code = m_errorCode;
        checkConnection();
        if (transaction && !m_lost)
            exec(QStringLiteral("ROLLBACK"));
        m_error = error; // the reason, not the rollback's own complaint
        m_errorCode = code;
        if (m_lost || !isBusyError() || attempt + 1 >= attempts)
            return false;
        // Transactions wait longer each time, so that busy writers spread out.
        QThread::msleep(transaction ? pauseMs * (attempt + 1) : pauseMs);
    }
}

} // namespace zimble::server
