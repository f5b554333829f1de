#include "scorestore.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>

namespace zimble::server {

namespace {

QAtomicInteger<quint64> connectionCounter;

QString isoNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QDateTime fromIso(const QVariant& v)
{
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

} // namespace

ScoreStore::ScoreStore(const QString& location)
    : m_connection(QStringLiteral("zimble-store-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
    const QUrl url(location);
    m_sqlite = !(url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("postgres"));
    QSqlDatabase db = QSqlDatabase::addDatabase(m_sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), m_connection);
    if (!db.isValid()) {
        m_error = QStringLiteral("the database driver for %1 is not installed").arg(m_sqlite ? "SQLite" : "PostgreSQL");
        return;
    }
    if (m_sqlite) {
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
        m_error = db.lastError().text();
        return;
    }
    // Every acknowledged submission must be on disk: SQLite syncs the log at each commit with
    // synchronous=FULL; PostgreSQL does so with synchronous_commit on (its default, made sure).
    // A page cache of 16 MB (2 MB by default) keeps more of the score indexes in memory.
    if (m_sqlite
        && !(execStartup(QStringLiteral("PRAGMA journal_mode=WAL")) && execStartup(QStringLiteral("PRAGMA synchronous=FULL"))
             && exec(QStringLiteral("PRAGMA cache_size=-16384"))))
        return;
    if (!m_sqlite
        && !(exec(QStringLiteral("SET client_min_messages TO WARNING")) && exec(QStringLiteral("SET synchronous_commit TO on"))))
        return;
    // Instances starting together must not create the tables twice: "IF NOT EXISTS" alone
    // races in PostgreSQL, so creation runs under a lock (an advisory one there, the write lock here).
    if (!execStartup(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SELECT pg_advisory_lock(84170001)")))
        return;
    const bool created = createSchema();
    const QString error = m_error;
    const bool ended = exec(m_sqlite ? (created ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"))
                                     : QStringLiteral("SELECT pg_advisory_unlock(84170001)"));
    if (!created) {
        m_error = error;
        return;
    }
    m_open = ended && prepareStatements();
}

ScoreStore::~ScoreStore()
{
    m_insert.reset();
    m_update.reset();
    m_readRecords.reset();
    m_lockRecords.reset();
    m_since.reset();
    m_generation.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool ScoreStore::fail(const QSqlQuery& q)
{
    m_error = q.lastError().text();
    m_errorCode = q.lastError().nativeErrorCode();
    return false;
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
    // retry them for a while, so instances started together all come up.
    const QDeadlineTimer deadline(15000);
    for (;;) {
        if (exec(sql))
            return true;
        if (!isBusyError() || deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

bool ScoreStore::createSchema()
{
    // Portable SQL: the same statements run on SQLite and PostgreSQL.
    const QString id = m_sqlite ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT") : QStringLiteral("BIGSERIAL PRIMARY KEY");
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS submissions ("
                             " id %1,"
                             " name TEXT NOT NULL,"
                             " score4 BIGINT NOT NULL, score5 BIGINT NOT NULL,"
                             " score6 BIGINT NOT NULL, score7 BIGINT NOT NULL,"
                             " client TEXT NOT NULL,"
                             " submitted_at TEXT NOT NULL)")
                  .arg(id))
        || !exec(QStringLiteral("CREATE TABLE IF NOT EXISTS records ("
                                " board INTEGER PRIMARY KEY,"
                                " score BIGINT NOT NULL,"
                                " holder TEXT NOT NULL,"
                                " set_at TEXT NOT NULL)"))
        // An index of an earlier version that cost every insert and served only moderation.
        || !exec(QStringLiteral("DROP INDEX IF EXISTS submissions_by_name")))
        return false;
    // The moderation count: --remove-name raises it, so running services read the ten best anew.
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS moderation (id INTEGER PRIMARY KEY, generation BIGINT NOT NULL)"))
        || !exec(QStringLiteral("INSERT INTO moderation (id, generation) VALUES (1, 0) ON CONFLICT (id) DO NOTHING")))
        return false;
    for (int board = FirstBoard; board <= LastBoard; ++board) {
        // Score indexes of an earlier version cost every insert; the ten best are kept in memory.
        if (!exec(QStringLiteral("DROP INDEX IF EXISTS submissions_by_score%1").arg(board)))
            return false;
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.prepare(QStringLiteral("INSERT INTO records (board, score, holder, set_at) VALUES (?, 0, '', '') "
                                 "ON CONFLICT (board) DO NOTHING"));
        q.addBindValue(board);
        if (!q.exec())
            return fail(q);
    }
    return true;
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
        && make(m_generation, QStringLiteral("SELECT generation FROM moderation WHERE id = 1"));
    return ok;
}

bool ScoreStore::submitBatch(const QList<Submission>& batch, QList<QList<int>>* won, WorldRecords* after)
{
    // Waiting for a busy database happens here, on the storage thread, never where requests are served.
    for (int attempt = 0;; ++attempt) {
        if (runBatch(batch, won, after))
            return true;
        const QString error = m_error, code = m_errorCode;
        exec(QStringLiteral("ROLLBACK"));
        m_error = error; // the reason, not the rollback's own complaint
        m_errorCode = code;
        if (!isBusyError() || attempt >= 4)
            return false;
        QThread::msleep(25 * (attempt + 1));
    }
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
    if (!readSince(&stored))
        return false;
    QList<QList<int>> wins;
    const QString now = isoNow();
    const QDateTime nowTime = QDateTime::fromString(now, Qt::ISODateWithMs);
    for (const Submission& s : batch) {
        m_insert->bindValue(0, s.name);
        for (int i = 0; i < 4; ++i)
            m_insert->bindValue(1 + i, s.scores[i]);
        m_insert->bindValue(5, s.client);
        m_insert->bindValue(6, now);
        if (!m_insert->exec() || !m_insert->next())
            return fail(*m_insert);
        stored.append({m_insert->value(0).toLongLong(), nowTime, s.name, s.client, s.scores});
        m_insert->finish();
        QList<int> mine;
        for (int i = 0; i < 4; ++i) {
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
    if (!records(result) || !exec(QStringLiteral("COMMIT")))
        return false;
    for (const StoredSubmission& s : stored) {
        for (int i = 0; i < 4; ++i)
            m_top.offer(i, s.name, s.scores[i], s.id, s.at);
        m_lastId = std::max(m_lastId, s.id);
    }
    if (won)
        *won = wins;
    if (after)
        *after = result;
    return true;
}

bool ScoreStore::records(WorldRecords& out)
{
    return readRecords(*m_readRecords, out);
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

bool ScoreStore::readSince(QList<StoredSubmission>* pending)
{
    // In chunks, so that a whole table is never held at once (PostgreSQL sends all rows of a
    // result). With `pending`, the rows wait there for the commit of the transaction at hand.
    qint64 from = m_lastId;
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
            for (int i = 0; i < 4; ++i)
                s.scores[i] = m_since->value(2 + i).toLongLong();
            s.at = fromIso(m_since->value(6));
            from = s.id;
            if (pending) {
                pending->append(s);
            } else {
                for (int i = 0; i < 4; ++i)
                    m_top.offer(i, s.name, s.scores[i], s.id, s.at);
            }
        }
        m_since->finish();
        if (!pending)
            m_lastId = from;
        if (rows < 5000)
            return true;
    }
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
    if (generation != m_seenGeneration || !m_topLoaded) {
        // First use, or names were removed: read the ten best from the whole table.
        m_top.clear();
        m_lastId = 0;
        m_seenGeneration = generation;
        m_topLoaded = true;
    }
    return readSince(nullptr);
}

bool ScoreStore::pageData(PageData& out)
{
    if (!m_topLoaded && !catchUp())
        return false;
    if (!records(out.records))
        return false;
    for (int i = 0; i < 4; ++i)
        out.best[i] = m_top.board(i);
    return true;
}

PageData ScoreStore::pageWith(const WorldRecords& records) const
{
    PageData out;
    out.records = records;
    for (int i = 0; i < 4; ++i)
        out.best[i] = m_top.board(i);
    return out;
}

void TopTens::offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at)
{
    if (score <= 0)
        return;
    QList<Entry>& list = m_boards[index];
    auto better = [](const Entry& a, const Entry& b) { return a.score > b.score || (a.score == b.score && a.id < b.id); };
    const Entry entry{name, score, id, at};
    for (Entry& e : list) {
        if (e.name != name)
            continue;
        if (!better(entry, e))
            return; // the name's best stays
        e = entry;
        std::sort(list.begin(), list.end(), better);
        return;
    }
    if (list.size() >= Count && !better(entry, list.last()))
        return;
    list.insert(std::upper_bound(list.begin(), list.end(), entry, better), entry);
    if (list.size() > Count)
        list.removeLast();
}

QList<RankedEntry> TopTens::board(int index) const
{
    QList<RankedEntry> out;
    for (const Entry& e : m_boards[index])
        out.append({e.name, e.score, e.at});
    return out;
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

bool ScoreStore::list(int board, const QString& name, int limit, QList<StoredSubmission>& out)
{
    out.clear();
    QString sql = QStringLiteral("SELECT id, submitted_at, name, client, score4, score5, score6, score7 FROM submissions");
    QStringList where;
    if (board >= FirstBoard && board <= LastBoard)
        where << QStringLiteral("score%1 > 0").arg(board);
    if (!name.isNull())
        where << QStringLiteral("name = ?");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += board >= FirstBoard && board <= LastBoard ? QStringLiteral(" ORDER BY score%1 DESC, id ASC").arg(board)
                                                     : QStringLiteral(" ORDER BY id DESC");
    sql += QStringLiteral(" LIMIT ?");
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(sql);
    if (!name.isNull())
        q.addBindValue(name);
    q.addBindValue(limit);
    if (!q.exec())
        return fail(q);
    while (q.next()) {
        StoredSubmission s;
        s.id = q.value(0).toLongLong();
        s.at = fromIso(q.value(1));
        s.name = q.value(2).toString();
        s.client = q.value(3).toString();
        for (int i = 0; i < 4; ++i)
            s.scores[i] = q.value(4 + i).toLongLong();
        out.append(s);
    }
    return true;
}

bool ScoreStore::removeName(const QString& name, int* removed, WorldRecords* before, WorldRecords* after)
{
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    auto run = [&]() -> bool {
        if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
            return false;
        // PostgreSQL: lock the records, so submissions of other instances wait for the new ones.
        if (!m_sqlite && !exec(QStringLiteral("SELECT board FROM records FOR UPDATE")))
            return false;
        if (!records(*before))
            return false;
        QSqlQuery del(db);
        del.prepare(QStringLiteral("DELETE FROM submissions WHERE name = ?"));
        del.addBindValue(name);
        if (!del.exec())
            return fail(del);
        *removed = del.numRowsAffected();
        for (int board = FirstBoard; board <= LastBoard; ++board) {
            // The record is the highest remaining score, the earliest of equal ones.
            QSqlQuery top(db);
            top.setForwardOnly(true);
            if (!top.exec(QStringLiteral("SELECT name, score%1, submitted_at FROM submissions WHERE score%1 > 0 "
                                         "ORDER BY score%1 DESC, id ASC LIMIT 1")
                              .arg(board)))
                return fail(top);
            const bool any = top.next();
            const QString holder = any ? top.value(0).toString() : QStringLiteral("");
            const qint64 score = any ? top.value(1).toLongLong() : 0;
            const QString at = any ? top.value(2).toString() : QStringLiteral("");
            top.finish();
            QSqlQuery set(db);
            set.prepare(QStringLiteral("UPDATE records SET score = ?, holder = ?, set_at = ? WHERE board = ?"));
            set.addBindValue(score);
            set.addBindValue(holder);
            set.addBindValue(at);
            set.addBindValue(board);
            if (!set.exec())
                return fail(set);
        }
        // Running services read the ten best anew when they see the count move.
        return exec(QStringLiteral("UPDATE moderation SET generation = generation + 1 WHERE id = 1")) && records(*after)
            && exec(QStringLiteral("COMMIT"));
    };
    for (int attempt = 0;; ++attempt) {
        if (run())
            return true;
        const QString error = m_error, code = m_errorCode;
        exec(QStringLiteral("ROLLBACK"));
        m_error = error;
        m_errorCode = code;
        if (!isBusyError() || attempt >= 4)
            return false;
        QThread::msleep(100);
    }
}

} // namespace zimble::server
