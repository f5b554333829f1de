#include "database.h"

#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

namespace zimble::server {

// Each dialect's own opening (sqlitedatabase.cpp, postgresdatabase.cpp).
std::unique_ptr<Database> openSqlite(const QString& file, QString* error);
std::unique_ptr<Database> openPostgres(const QUrl& url, QString* error);

QByteArray sql::raiseBests(int boards)
{
    QByteArray text = "INSERT INTO bests (name, board, score, submission_id, set_at) VALUES (?, ?, ?, ?, ?)";
    for (int i = 1; i < boards; ++i)
        text += ", (?, ?, ?, ?, ?)";
    return text + " ON CONFLICT (name, board) DO UPDATE SET score = excluded.score, submission_id = excluded.submission_id, "
                  "set_at = excluded.set_at WHERE excluded.score > bests.score";
}

QString currentUser()
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
}

std::unique_ptr<Database> Database::open(const QString& location, QString* error)
{
    const QUrl url(location);
    if (url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("postgres"))
        return openPostgres(url, error);
    return openSqlite(location, error);
}

Database::Database(const QString& driver)
    // Unique among the connections alive at once; the destructor removes it by this name.
    : m_connection(QStringLiteral("zimble-store-%1").arg(quintptr(this), 0, 16))
{
    QSqlDatabase::addDatabase(driver, m_connection);
}

Database::~Database()
{
    {
        QSqlDatabase db = connection();
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

QSqlQuery Database::query() const
{
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    return q;
}

Status Database::markLost(const QString& why)
{
    m_lost = true;
    return Status::lost(why.isEmpty() ? QStringLiteral("the server closed the connection") : why);
}

Status Database::failed(const QSqlQuery& q)
{
    const QSqlError e = q.lastError();
    // On one line: PostgreSQL's texts carry line breaks.
    QString text = e.text().simplified();
    if (text.isEmpty()) {
        // A connection the server ended is closed by the driver, and statements then fail silently.
        const QSqlDatabase db = connection();
        text = db.lastError().text().simplified();
        if (!db.isOpen())
            return markLost(text);
        if (text.isEmpty())
            text = QStringLiteral("the database gave no reason");
    }
    StoreError error = classify(e.nativeErrorCode(), text);
    if (error.kind == StoreError::Kind::Lost)
        return markLost(error.reason);
    return error;
}

Status Database::exec(const QString& sql)
{
    if (m_lost)
        return Status::lost(QStringLiteral("the connection to the database is lost; reconnecting"));
    QSqlQuery q(connection());
    if (!q.exec(sql))
        return failed(q);
    return {};
}

Status Database::prepare(QSqlQuery& q, const QString& sql)
{
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return failed(q);
    return {};
}

Status Database::run(QSqlQuery& q)
{
    if (m_lost)
        return Status::lost(QStringLiteral("the connection to the database is lost; reconnecting"));
    if (!q.exec())
        return failed(q);
    return {};
}

Status Database::commit()
{
    if (Status s = exec(QStringLiteral("COMMIT")); !s)
        return s;
    return syncAfterCommit();
}

void Database::rollback()
{
    if (!m_lost)
        (void)exec(QStringLiteral("ROLLBACK"));
}

Status Database::retry(const std::function<Status()>& work, int attempts, int pauseMs, bool transaction, QDeadlineTimer deadline)
{
    Status s = retryUntil(work, attempts, pauseMs, transaction, deadline);
    if (!deadline.isForever())
        limitWait(-1);
    return s;
}

Status Database::retryUntil(const std::function<Status()>& work, int attempts, int pauseMs, bool transaction, QDeadlineTimer deadline)
{
    for (int attempt = 0;; ++attempt) {
        if (!deadline.isForever())
            limitWait(int(std::max<qint64>(0, deadline.remainingTime())));
        Status s = work();
        if (s)
            return s;
        // Rolled back first: inside a failed transaction every statement fails, a probe too.
        if (transaction)
            rollback();
        if (!s.is(StoreError::Kind::Busy) && !m_lost) {
            if (Status p = probe(); !p)
                return Status::lost(s.reason());
        }
        if (!s.is(StoreError::Kind::Busy) || attempt + 1 >= attempts || deadline.hasExpired())
            return s;
        // Transactions wait longer each time, so that busy writers spread out.
        const int pause = transaction ? pauseMs * (attempt + 1) : pauseMs;
        if (!deadline.isForever() && deadline.remainingTime() < pause)
            return s;
        QThread::msleep(pause);
    }
}

} // namespace zimble::server
