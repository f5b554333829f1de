#include "scorestore.h"

#include <QAtomicInteger>
#include <QFileInfo>
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
    if (m_sqlite && !(exec(QStringLiteral("PRAGMA journal_mode=WAL")) && exec(QStringLiteral("PRAGMA synchronous=NORMAL"))))
        return;
    if (!m_sqlite && !exec(QStringLiteral("SET client_min_messages TO WARNING")))
        return;
    // Instances starting together must not create the tables twice: "IF NOT EXISTS" alone
    // races in PostgreSQL, so creation runs under a lock (an advisory one there, the write lock here).
    if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("SELECT pg_advisory_lock(84170001)")))
        return;
    m_open = createSchema();
    exec(m_sqlite ? (m_open ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"))
                  : QStringLiteral("SELECT pg_advisory_unlock(84170001)"));
}

ScoreStore::~ScoreStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool ScoreStore::exec(const QString& sql)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(sql)) {
        m_error = q.lastError().text();
        return false;
    }
    return true;
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
                                " set_at TEXT NOT NULL)")))
        return false;
    for (int board = FirstBoard; board <= LastBoard; ++board) {
        if (!exec(QStringLiteral("CREATE INDEX IF NOT EXISTS submissions_by_score%1 ON submissions (score%1 DESC, id)").arg(board)))
            return false;
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.prepare(QStringLiteral("INSERT INTO records (board, score, holder, set_at) VALUES (?, 0, '', '') "
                                 "ON CONFLICT (board) DO NOTHING"));
        q.addBindValue(board);
        if (!q.exec()) {
            m_error = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool ScoreStore::submit(const Submission& s, QList<int>* newRecords)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // SQLite: take the write lock at the start, so two writers queue instead of failing.
    for (int attempt = 0; attempt < 5; ++attempt) {
        QList<int> won;
        if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) {
            QThread::msleep(20 * (attempt + 1));
            continue;
        }
        const QString now = isoNow();
        bool ok = true;
        {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("INSERT INTO submissions (name, score4, score5, score6, score7, client, submitted_at) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?)"));
            q.addBindValue(s.name);
            for (qint64 v : s.scores)
                q.addBindValue(v);
            q.addBindValue(s.client);
            q.addBindValue(now);
            ok = q.exec();
            if (!ok)
                m_error = q.lastError().text();
        }
        for (int i = 0; ok && i < 4; ++i) {
            // Compare and set in one statement: only a strictly higher score replaces the record.
            QSqlQuery q(db);
            q.prepare(QStringLiteral("UPDATE records SET score = ?, holder = ?, set_at = ? WHERE board = ? AND score < ?"));
            q.addBindValue(s.scores[i]);
            q.addBindValue(s.name);
            q.addBindValue(now);
            q.addBindValue(FirstBoard + i);
            q.addBindValue(s.scores[i]);
            ok = q.exec();
            if (!ok)
                m_error = q.lastError().text();
            else if (q.numRowsAffected() > 0)
                won.append(FirstBoard + i);
        }
        if (ok && exec(QStringLiteral("COMMIT"))) {
            if (newRecords)
                *newRecords = won;
            return true;
        }
        exec(QStringLiteral("ROLLBACK"));
        QThread::msleep(20 * (attempt + 1));
    }
    return false;
}

bool ScoreStore::records(WorldRecords& out)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT board, score, holder, set_at FROM records ORDER BY board"))) {
        m_error = q.lastError().text();
        return false;
    }
    out = WorldRecords();
    while (q.next()) {
        const int board = q.value(0).toInt();
        if (board < FirstBoard || board > LastBoard)
            continue;
        WorldRecord& r = out[board - FirstBoard];
        r.score = q.value(1).toLongLong();
        r.holder = q.value(2).toString();
        r.setAt = QDateTime::fromString(q.value(3).toString(), Qt::ISODateWithMs);
    }
    return true;
}

bool ScoreStore::best(int board, int limit, QList<RankedEntry>& out)
{
    out.clear();
    if (board < FirstBoard || board > LastBoard)
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT name, score%1, submitted_at FROM submissions WHERE score%1 > 0 "
                             "ORDER BY score%1 DESC, id ASC LIMIT ?")
                  .arg(board));
    q.addBindValue(limit);
    if (!q.exec()) {
        m_error = q.lastError().text();
        return false;
    }
    while (q.next())
        out.append({q.value(0).toString(), q.value(1).toLongLong(),
                    QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs)});
    return true;
}

} // namespace zimble::server
