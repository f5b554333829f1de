// PostgreSQL through Qt's QPSQL driver: SQLSTATEs come as the native error code, LISTEN/NOTIFY
// as the driver's notifications on this thread's event loop.

#include "database.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <QVariant>

namespace zimble::server {

namespace {

constexpr char Channel[] = "zimble_changed";
constexpr char SchemaLock[] = "84170001";

// A failed connection in the operator's terms where libpq's reason is a common one, else
// libpq's own text on one line.
QString connectProblem(const QUrl& url, const QSqlError& error)
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

class PostgresWriter : public SubmissionWriter {
public:
    explicit PostgresWriter(Database& db) : m_db(db), m_insert(db.query()), m_record(db.query())
    {
        for (QSqlQuery& q : m_bests)
            q = db.query();
    }
    Status prepare()
    {
        if (Status s = m_db.prepare(m_insert, QString::fromLatin1(sql::InsertSubmission) + QStringLiteral(" RETURNING id")); !s)
            return s;
        if (Status s = m_db.prepare(m_record, QString::fromLatin1(sql::RaiseRecord)); !s)
            return s;
        for (int n = 1; n <= BoardSizeCount; ++n) {
            if (Status s = m_db.prepare(m_bests[size_t(n - 1)], QString::fromLatin1(sql::raiseBests(n))); !s)
                return s;
        }
        return {};
    }
    Status insert(QByteArrayView name, const std::array<qint64, BoardSizeCount>& scores, QByteArrayView client,
                  QByteArrayView at, qint64* id) override
    {
        m_insert.bindValue(0, QString::fromUtf8(name));
        for (int i = 0; i < BoardSizeCount; ++i)
            m_insert.bindValue(1 + i, scores[size_t(i)]);
        m_insert.bindValue(5, QString::fromUtf8(client));
        m_insert.bindValue(6, QString::fromLatin1(at));
        if (Status s = m_db.run(m_insert); !s)
            return s;
        if (!m_insert.next())
            return m_db.failed(m_insert);
        *id = m_insert.value(0).toLongLong();
        m_insert.finish();
        return {};
    }
    Status raiseRecord(int board, qint64 score, QByteArrayView holder, QByteArrayView at, bool* won) override
    {
        m_record.bindValue(0, score);
        m_record.bindValue(1, QString::fromUtf8(holder));
        m_record.bindValue(2, QString::fromLatin1(at));
        m_record.bindValue(3, board);
        m_record.bindValue(4, score);
        if (Status s = m_db.run(m_record); !s)
            return s;
        *won = m_record.numRowsAffected() > 0;
        return {};
    }
    Status raiseBests(QByteArrayView name, std::span<const BestOffer> offers) override
    {
        if (offers.empty())
            return {};
        QSqlQuery& q = m_bests[offers.size() - 1];
        const QString text = QString::fromUtf8(name);
        for (int r = 0; r < int(offers.size()); ++r) {
            const BestOffer& o = offers[size_t(r)];
            q.bindValue(5 * r, text);
            q.bindValue(5 * r + 1, o.board);
            q.bindValue(5 * r + 2, o.score);
            q.bindValue(5 * r + 3, o.id);
            q.bindValue(5 * r + 4, QString::fromLatin1(o.at));
        }
        return m_db.run(q);
    }

private:
    Database& m_db;
    QSqlQuery m_insert, m_record;
    std::array<QSqlQuery, BoardSizeCount> m_bests; // for 1 to 4 boards
};

class PostgresDatabase : public Database {
public:
    PostgresDatabase() : Database(QStringLiteral("QPSQL")) {}

    bool openUrl(const QUrl& url, QString* error)
    {
        QSqlDatabase db = connection();
        if (!db.isValid()) {
            *error = QStringLiteral("the database driver for PostgreSQL is not installed");
            return false;
        }
        db.setHostName(url.host());
        if (url.port() > 0)
            db.setPort(url.port());
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setDatabaseName(url.path().mid(1));
        if (!db.open()) {
            *error = connectProblem(url, db.lastError());
            return false;
        }
        return true;
    }

    Status beginWrite() override { return exec(QStringLiteral("BEGIN")); }
    Status beginSnapshot() override { return exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ")); }
    Status configure() override
    {
        // synchronous_commit on (the default, made sure): every acknowledged commit is on disk.
        if (Status s = exec(QStringLiteral("SET client_min_messages TO WARNING")); !s)
            return s;
        return exec(QStringLiteral("SET synchronous_commit TO on"));
    }
    // Every transaction takes the records in one order and holds them to its end, so batches of
    // several instances cannot deadlock.
    QString lockRows() const override { return QStringLiteral(" FOR UPDATE"); }
    // Delivered at the commit, to every instance listening.
    Status notifyOthers() override { return exec(QStringLiteral("NOTIFY %1").arg(QLatin1String(Channel))); }
    bool listen(std::function<void()> changed) override
    {
        QSqlDriver* driver = connection().driver();
        if (!driver->hasFeature(QSqlDriver::EventNotifications))
            return false;
        m_changed = std::move(changed);
        QObject::connect(driver, &QSqlDriver::notification, driver,
                         [this](const QString&, QSqlDriver::NotificationSource source, const QVariant&) {
                             if (source != QSqlDriver::SelfSource && m_changed)
                                 m_changed();
                         });
        return driver->subscribeToNotification(QLatin1String(Channel));
    }
    bool changedElsewhere() override { return true; } // told by notifications, not asked
    Status probe() override
    {
        if (isLost())
            return Status::lost(QStringLiteral("the connection to the database is lost; reconnecting"));
        const QSqlDatabase db = connection();
        if (!db.isOpen())
            return markLost({});
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT 1")))
            return {};
        return markLost(q.lastError().text().simplified());
    }
    Status reopen() override
    {
        QSqlDatabase db = connection();
        db.close();
        if (!db.open())
            return Status::lost(db.lastError().text().simplified());
        setLost(false);
        if (Status s = configure(); !s)
            return s;
        // A new connection listens anew (the server forgot the old one's LISTEN).
        if (m_changed && !db.driver()->subscribeToNotification(QLatin1String(Channel))) {
            setLost(true);
            return Status::lost(db.driver()->lastError().text().simplified());
        }
        return {};
    }

    std::unique_ptr<SubmissionWriter> submissionWriter(Status* status) override
    {
        auto writer = std::make_unique<PostgresWriter>(*this);
        *status = writer->prepare();
        return writer;
    }
    Status readBests(const std::function<void(int, QByteArrayView, qint64, qint64, QByteArrayView)>& row) override
    {
        QSqlQuery q = query();
        if (!q.exec(QStringLiteral("SELECT board, name, score, submission_id, set_at FROM bests")))
            return failed(q);
        while (q.next())
            row(q.value(0).toInt(), q.value(1).toString().toUtf8(), q.value(2).toLongLong(), q.value(3).toLongLong(),
                q.value(4).toString().toUtf8());
        return {};
    }
    Status prepareBulkWrite() override { return {}; }
    Status backup(const QString&) override
    {
        return Status::badInput(QStringLiteral("--backup copies SQLite databases; back up PostgreSQL with pg_dump"));
    }

    QString idColumn() const override { return QStringLiteral("BIGSERIAL PRIMARY KEY"); }
    QString keyedTableOptions() const override { return {}; }
    Status readSchemaVersion(int* version) override
    {
        QSqlQuery q = query();
        if (!q.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) || !q.next())
            return failed(q);
        if (!q.value(0).toBool()) {
            *version = 0;
            return {};
        }
        if (!q.exec(QStringLiteral("SELECT version FROM schema_version WHERE id = 1")))
            return failed(q);
        *version = q.next() ? q.value(0).toInt() : 0;
        return {};
    }
    QStringList writeSchemaVersion(int version) const override
    {
        return {QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (id INTEGER PRIMARY KEY, version INTEGER NOT NULL)"),
                QStringLiteral("INSERT INTO schema_version (id, version) VALUES (1, %1) "
                               "ON CONFLICT (id) DO UPDATE SET version = excluded.version")
                    .arg(version)};
    }
    // Instances starting together must not migrate twice: an advisory lock serializes them.
    Status lockSchema() override { return exec(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(QLatin1String(SchemaLock))); }
    void unlockSchema() override { (void)exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(QLatin1String(SchemaLock))); }

protected:
    StoreError classify(const QString& code, const QString& text) const override
    {
        // Lock not available, serialization failure, deadlock: the transaction may be tried again.
        if (code == QLatin1String("55P03") || code == QLatin1String("40001") || code == QLatin1String("40P01"))
            return {StoreError::Kind::Busy, text};
        // Connection exceptions, the server shutting down or starting.
        if (code.startsWith(QLatin1String("08")) || code == QLatin1String("57P01") || code == QLatin1String("57P02")
            || code == QLatin1String("57P03"))
            return {StoreError::Kind::Lost, text};
        if (code.startsWith(QLatin1String("22")) || code.startsWith(QLatin1String("23")))
            return {StoreError::Kind::BadInput, text};
        return {StoreError::Kind::Refused, text};
    }

private:
    std::function<void()> m_changed;
};

} // namespace

std::unique_ptr<Database> openPostgres(const QUrl& url, QString* error)
{
    auto db = std::make_unique<PostgresDatabase>();
    if (!db->openUrl(url, error))
        return nullptr;
    return db;
}

} // namespace zimble::server
