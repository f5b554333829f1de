// SQLite: one file, written by one connection at a time (the write lock), read by many (WAL).
// The hot statements go through SQLite's own interface, which binds text without QVariants.

#include "database.h"
#include "logging.h"
#include "logsyncer.h"
#include "sqlitecheckpointer.h"
#include "sqlitehandle.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QTemporaryFile>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace zimble::server {

namespace {

// How long a statement waits for another connection's write lock.
constexpr int BusyTimeoutMs = 10000;
// The log's length in pages at which the checkpointer is woken, and at which the writer copies
// it back itself because the checkpointer has fallen far behind.
constexpr int CheckpointPages = 1000;
constexpr int BackstopPages = 16000;

// Why an SQLite file cannot be opened where SQLite itself would only say "unable to open
// database file": its folder is missing or not writable (the write-ahead log lives beside it).
QString folderProblem(const QString& file)
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

StoreError sqliteError(int code, const QString& text)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {StoreError::Kind::Busy, text};
    case SQLITE_NOTADB:
        return {StoreError::Kind::Refused, QStringLiteral("not a database (the file is not an SQLite database)")};
    default:
        return {StoreError::Kind::Refused, text};
    }
}

// A statement of SQLite's own interface, finalized with it.
class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(m_st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool prepare(sqlite3* db, const char* sql) { return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_st, nullptr) == SQLITE_OK; }
    sqlite3_stmt* get() const { return m_st; }
    void text(int i, QByteArrayView v) { sqlite3_bind_text(m_st, i, v.data(), int(v.size()), SQLITE_STATIC); }
    void int64(int i, qint64 v) { sqlite3_bind_int64(m_st, i, v); }
    // Runs it to its end; false on failure.
    bool step()
    {
        const int rc = sqlite3_step(m_st);
        sqlite3_reset(m_st);
        return rc == SQLITE_DONE;
    }

private:
    sqlite3_stmt* m_st = nullptr;
};

class SqliteWriter : public SubmissionWriter {
public:
    explicit SqliteWriter(sqlite3* db) : m_db(db) {}
    Status prepare()
    {
        if (!m_insert.prepare(m_db, sql::InsertSubmission) || !m_record.prepare(m_db, sql::RaiseRecord))
            return error();
        for (int n = 1; n <= BoardSizeCount; ++n) {
            if (!m_bests[size_t(n - 1)].prepare(m_db, sql::raiseBests(n).constData()))
                return error();
        }
        return {};
    }
    Status insert(QByteArrayView name, const std::array<qint64, BoardSizeCount>& scores, QByteArrayView client,
                  QByteArrayView at, qint64* id) override
    {
        m_insert.text(1, name);
        for (int i = 0; i < BoardSizeCount; ++i)
            m_insert.int64(2 + i, scores[size_t(i)]);
        m_insert.text(6, client);
        m_insert.text(7, at);
        if (!m_insert.step())
            return error();
        *id = sqlite3_last_insert_rowid(m_db);
        return {};
    }
    Status raiseRecord(int board, qint64 score, QByteArrayView holder, QByteArrayView at, bool* won) override
    {
        m_record.int64(1, score);
        m_record.text(2, holder);
        m_record.text(3, at);
        m_record.int64(4, board);
        m_record.int64(5, score);
        if (!m_record.step())
            return error();
        *won = sqlite3_changes(m_db) > 0;
        return {};
    }
    Status raiseBests(QByteArrayView name, std::span<const BestOffer> offers) override
    {
        if (offers.empty())
            return {};
        Statement& st = m_bests[offers.size() - 1];
        for (int r = 0; r < int(offers.size()); ++r) {
            const BestOffer& o = offers[size_t(r)];
            st.text(5 * r + 1, name);
            st.int64(5 * r + 2, o.board);
            st.int64(5 * r + 3, o.score);
            st.int64(5 * r + 4, o.id);
            st.text(5 * r + 5, o.at);
        }
        if (!st.step())
            return error();
        return {};
    }

private:
    Status error() const { return sqliteError(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db))); }
    sqlite3* m_db;
    Statement m_insert, m_record;
    std::array<Statement, BoardSizeCount> m_bests; // for 1 to 4 boards
};

class SqliteDatabase : public Database {
public:
    SqliteDatabase() : Database(QStringLiteral("QSQLITE")) {}

    bool openFile(const QString& file, QString* error)
    {
        QSqlDatabase db = connection();
        if (!db.isValid()) {
            *error = QStringLiteral("the database driver for SQLite is not installed");
            return false;
        }
        if (*error = folderProblem(file); !error->isEmpty())
            return false;
        m_file = file;
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
        if (!db.open()) {
            *error = db.lastError().text().simplified();
            return false;
        }
        m_handle = sqliteHandle(db);
        if (!m_handle) {
            *error = QStringLiteral("the SQLite driver does not give its connection");
            return false;
        }
        sqlite3_busy_handler(m_handle, &SqliteDatabase::waitForLock, this);
        return true;
    }

    void diskWorkInBackground() override
    {
        const char* file = sqlite3_db_filename(m_handle, "main");
        if (m_checkpointer || !file || !*file) // a database in memory has no log
            return;
        m_checkpointer = SqliteCheckpointer::start(file);
        if (m_checkpointer)
            sqlite3_wal_hook(m_handle, &SqliteDatabase::logGrew, this);
        // A commit in the log's mode with synchronous=NORMAL writes the log without syncing it;
        // the syncer's fdatasync of the log then makes every commit before it durable, as
        // synchronous=FULL would have at the commit itself. Without the syncer it stays FULL.
        if (!inLogMode())
            return;
        QString why;
        std::unique_ptr<LogSyncer> syncer = LogSyncer::open(QByteArray(file) + "-wal", &why);
        if (!syncer)
            qCWarning(lcStore, "zimble-scored: each commit syncs its own log (%s)", qPrintable(why.simplified()));
        else if (exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
            m_syncer = std::move(syncer);
    }
    Status commitUnsynced() override { return exec(QStringLiteral("COMMIT")); }
    void whenDurable(std::function<void(const Status&)> done) override
    {
        if (m_syncer)
            m_syncer->request(std::move(done));
        else
            done(Status());
    }

    Status beginWrite() override { return exec(QStringLiteral("BEGIN IMMEDIATE")); }
    Status beginSnapshot() override { return exec(QStringLiteral("BEGIN")); }

    Status configure() override
    {
        // Every acknowledged submission must be on disk: synchronous=FULL syncs the log at each
        // commit. A page cache of 16 MB (2 MB by default) keeps more of the indexes in memory.
        // Switching the journal mode does not wait for a busy database: it is retried for about
        // 15 s, so that instances started together all come up.
        for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
            if (Status s = retry([&] { return exec(QString::fromLatin1(sql)); }, 750, 20, false); !s)
                return s;
        }
        return exec(QStringLiteral("PRAGMA cache_size=-16384"));
    }
    QString lockRows() const override { return {}; } // the write lock covers every row
    Status notifyOthers() override { return {}; }   // other instances look at the data version
    bool listen(std::function<void()>) override { return false; }
    bool changedElsewhere() override
    {
        const std::optional<qint64> v = commitsElsewhere();
        return !v || std::exchange(m_dataVersion, *v) != *v;
    }
    std::optional<qint64> commitsElsewhere() override
    {
        // SQLite's data version: unchanged by this connection's own commits, changed by any
        // other's (and by a checkpoint restarting the log, which only costs a read).
        if (!m_dataVersionQuery.get() && !m_dataVersionQuery.prepare(m_handle, "PRAGMA data_version"))
            return std::nullopt;
        if (sqlite3_step(m_dataVersionQuery.get()) != SQLITE_ROW) {
            sqlite3_reset(m_dataVersionQuery.get());
            return std::nullopt;
        }
        const qint64 version = sqlite3_column_int64(m_dataVersionQuery.get(), 0);
        sqlite3_reset(m_dataVersionQuery.get());
        return version;
    }
    Status probe() override { return {}; } // a file does not go away like a server
    Status reopen() override { return {}; }

    std::unique_ptr<SubmissionWriter> submissionWriter(Status* status) override
    {
        auto writer = std::make_unique<SqliteWriter>(m_handle);
        *status = writer->prepare();
        return writer;
    }

    Status readBests(const std::function<void(int, QByteArrayView, qint64, qint64, QByteArrayView)>& row) override
    {
        // Start-up reads every player's bests: SQLite's own interface reads them several times
        // faster than one QVariant per value.
        Statement st;
        if (!st.prepare(m_handle, "SELECT board, name, score, submission_id, set_at FROM bests"))
            return error();
        int rc;
        const auto text = [&](int column) {
            return QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), column)),
                                  sqlite3_column_bytes(st.get(), column));
        };
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW)
            row(sqlite3_column_int(st.get(), 0), text(1), sqlite3_column_int64(st.get(), 2), sqlite3_column_int64(st.get(), 3), text(4));
        return rc == SQLITE_DONE ? Status() : error();
    }

    Status prepareBulkWrite() override
    {
        // A large page cache and in-memory sorting keep a big import from spilling pages early.
        if (Status s = exec(QStringLiteral("PRAGMA cache_size=-262144")); !s)
            return s;
        return exec(QStringLiteral("PRAGMA temp_store=MEMORY"));
    }

    Status backup(const QString& file) override;

    QString idColumn() const override { return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"); }
    QString keyedTableOptions() const override { return QStringLiteral(" WITHOUT ROWID"); } // one tree, no separate index
    Status readSchemaVersion(int* version) override
    {
        QSqlQuery q = query();
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            return failed(q);
        *version = q.value(0).toInt();
        return {};
    }
    QStringList writeSchemaVersion(int version) const override { return {QStringLiteral("PRAGMA user_version = %1").arg(version)}; }
    // The migration's own write lock (BEGIN IMMEDIATE) keeps a second instance out.
    Status lockSchema() override { return {}; }
    void unlockSchema() override {}

protected:
    StoreError classify(const QString& code, const QString& text) const override { return sqliteError(code.toInt(), text); }
    void limitWait(int ms) override { m_waitLimitMs = ms < 0 ? BusyTimeoutMs : std::min(ms, BusyTimeoutMs); }
    Status syncAfterCommit() override { return m_syncer ? m_syncer->syncNow() : Status(); }

private:
    Status error() const { return sqliteError(sqlite3_extended_errcode(m_handle), QString::fromUtf8(sqlite3_errmsg(m_handle))); }
    bool inLogMode()
    {
        QSqlQuery q = query();
        return q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next() && q.value(0).toString() == QLatin1String("wal");
    }

    // SQLite's busy handler: waits for a lock held by another connection in short steps at first
    // (a checkpoint holds the writer back for a few milliseconds; SQLite's own handler would sleep
    // 1, 2, 5, 10 ms...), then in steps of 5 ms, until the wait limit.
    static int waitForLock(void* self, int attempt)
    {
        auto* d = static_cast<SqliteDatabase*>(self);
        if (attempt == 0)
            d->m_waitingSince.start();
        if (d->m_waitingSince.elapsed() >= d->m_waitLimitMs)
            return 0;
        std::this_thread::sleep_for(attempt < 40 ? std::chrono::microseconds(250) : std::chrono::microseconds(5000));
        return 1;
    }
    // SQLite's hook after each commit, with the log's length in pages.
    static int logGrew(void* self, sqlite3* db, const char* name, int pages)
    {
        if (pages >= BackstopPages)
            (void)sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        else if (pages >= CheckpointPages)
            static_cast<SqliteDatabase*>(self)->m_checkpointer->wake();
        return SQLITE_OK;
    }

    QString m_file;
    sqlite3* m_handle = nullptr;
    qint64 m_dataVersion = -1;
    int m_waitLimitMs = BusyTimeoutMs;
    QElapsedTimer m_waitingSince;
    std::unique_ptr<SqliteCheckpointer> m_checkpointer; // ended before the connection closes
    std::unique_ptr<LogSyncer> m_syncer;                // answers what it was asked for before it ends
    Statement m_dataVersionQuery; // finalized before the connection closes
};

Status SqliteDatabase::backup(const QString& file)
{
    // Written beside the target under a name of its own, then renamed over it: the target is the
    // old copy or the new one, and no other file is touched.
    QTemporaryFile reserved(file + QStringLiteral(".partial-XXXXXX"));
    reserved.setAutoRemove(false);
    if (!reserved.open())
        return Status::badInput(QStringLiteral("cannot write beside %1: %2").arg(file, reserved.errorString()));
    const QString partial = reserved.fileName();
    reserved.close();
    sqlite3* copy = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(partial).constData(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const QString why = QStringLiteral("cannot write %1: %2").arg(partial, QString::fromUtf8(sqlite3_errmsg(copy)));
        sqlite3_close(copy);
        QFile::remove(partial);
        return Status::badInput(why);
    }
    int rc = SQLITE_ERROR;
    if (sqlite3_backup* b = sqlite3_backup_init(copy, "main", m_handle, "main")) {
        // Every page in one step, so in one read transaction: a consistent copy, made while the
        // services go on writing (WAL lets readers and one writer work at once).
        while ((rc = sqlite3_backup_step(b, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(50);
        sqlite3_backup_finish(b);
    }
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) == SQLITE_OK ? SQLITE_DONE : SQLITE_ERROR;
    QString why = rc == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(copy));
    if (sqlite3_close(copy) != SQLITE_OK && rc == SQLITE_DONE) {
        rc = SQLITE_ERROR;
        why = QStringLiteral("closing the copy failed");
    }
    if (rc != SQLITE_DONE) {
        QFile::remove(partial);
        return Status::refused(why);
    }
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(file).constData()) != 0) {
        QFile::remove(partial);
        return Status::badInput(QStringLiteral("cannot rename %1 to %2").arg(partial, file));
    }
    return {};
}

} // namespace

std::unique_ptr<Database> openSqlite(const QString& file, QString* error)
{
    auto db = std::make_unique<SqliteDatabase>();
    if (!db->openFile(file, error))
        return nullptr;
    return db;
}

} // namespace zimble::server
