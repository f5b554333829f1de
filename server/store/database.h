#pragma once
// One connection to the score database, and everything that differs between SQLite and
// PostgreSQL: each dialect's SQL, error codes and special interfaces live in its own file
// (sqlitedatabase.cpp, postgresdatabase.cpp); nothing outside them asks which one it is.

#include "storeerror.h"

#include "game/boardsize.h"

#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace zimble::server {

// The user this program runs as, for messages about permissions.
QString currentUser();

// A score offered as a name's best on one board, with the submission that sent it.
struct BestOffer {
    int board = 0;
    qint64 score = 0;
    qint64 id = 0;
    QByteArrayView at;
};

// The three statements of a submission, prepared once per connection.
class SubmissionWriter {
public:
    virtual ~SubmissionWriter() = default;
    // Stores one submission; its id in `id`.
    virtual Status insert(QByteArrayView name, const std::array<qint64, BoardSizeCount>& scores, QByteArrayView client,
                          QByteArrayView at, qint64* id) = 0;
    // Makes `score` the board's record when strictly higher; `won` tells whether it did.
    virtual Status raiseRecord(int board, qint64 score, QByteArrayView holder, QByteArrayView at, bool* won) = 0;
    // Makes each offered score the name's best on its board when strictly higher (an equal score
    // keeps the earlier), all in one statement; each board at most once.
    virtual Status raiseBests(QByteArrayView name, std::span<const BestOffer> offers) = 0;
};

// The statements' text, written once for both dialects.
namespace sql {
inline constexpr char InsertSubmission[] = "INSERT INTO submissions (name, score4, score5, score6, score7, client, submitted_at) "
                                           "VALUES (?, ?, ?, ?, ?, ?, ?)";
// Compare and set in one statement: only a strictly higher score replaces the record.
inline constexpr char RaiseRecord[] = "UPDATE records SET score = ?, holder = ?, set_at = ? WHERE board = ? AND score < ?";
// One name's bests on `boards` boards (1 to 4), each row bound as name, board, score,
// submission id, time.
QByteArray raiseBests(int boards);
// Strictly higher wins; on an equal score the earlier submission does, as in the standings.
inline constexpr char RaiseVerifiedRecord[] = "UPDATE verified_records SET score = ?, holder = ?, set_at = ?, submission_id = ? "
                                              "WHERE board = ? AND (score < ? OR (score = ? AND submission_id > ?))";
} // namespace sql

// Invariant: once a call has found the connection gone, isLost() stays true, and every call
// answers "lost" without touching the server, until reopen() succeeds.
class Database {
public:
    // Opens a file path (SQLite) or a postgresql:// URL; null with the reason in `error`.
    static std::unique_ptr<Database> open(const QString& location, QString* error);
    virtual ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const QString& connectionName() const { return m_connection; }
    QSqlDatabase connection() const { return QSqlDatabase::database(m_connection, false); }
    bool isLost() const { return m_lost; }

    // Runs one statement; a forward-only query on this connection; a failed query's error.
    Status exec(const QString& sql);
    QSqlQuery query() const;
    Status prepare(QSqlQuery& q, const QString& sql);
    Status run(QSqlQuery& q);
    Status failed(const QSqlQuery& q);

    // A transaction that writes (it takes the write lock, or waits for it), a read snapshot, the end.
    virtual Status beginWrite() = 0;
    virtual Status beginSnapshot() = 0;
    // The end of a writing transaction, on disk when it returns.
    Status commit();
    // The end of a writing transaction that may return before it is on disk, where the dialect
    // syncs apart (SQLite's log, once the disk work runs in the background); whenDurable() tells
    // when it is. The next transaction may begin meanwhile.
    virtual Status commitUnsynced() { return commit(); }
    // Calls `done` once every commit of this connection so far is on disk, with the outcome of
    // the sync: at once on this thread where commits are synced as they happen, else later on
    // another thread.
    virtual void whenDurable(std::function<void(const Status&)> done) { done(Status()); }
    void rollback();
    // Runs `work` again while the database is busy, at most `attempts` times and not past
    // `deadline`; a failed transaction is rolled back before the connection is looked at.
    Status retry(const std::function<Status()>& work, int attempts, int pauseMs, bool transaction,
                 QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    // The connection's settings: every acknowledged submission on disk at its commit.
    virtual Status configure() = 0;
    // Appended to a SELECT that locks the rows it reads until the transaction ends.
    virtual QString lockRows() const = 0;
    // Tells the other instances at commit that the data changed (where they are told).
    virtual Status notifyOthers() = 0;
    // Calls `changed` on this thread when another connection commits (false where not told).
    virtual bool listen(std::function<void()> changed) = 0;
    // Whether another connection may have changed the database since the last call.
    virtual bool changedElsewhere() = 0;
    // A count that changes whenever another connection commits, read inside the transaction at
    // hand; none where the dialect keeps no such count, or when it cannot be read.
    virtual std::optional<qint64> commitsElsewhere() { return std::nullopt; }
    // Whether the connection still answers (the once-a-second look); marks it lost if not.
    virtual Status probe() = 0;
    // Closes and opens the connection again, subscribed again where it listened.
    virtual Status reopen() = 0;
    // The submission statements, prepared on this connection.
    virtual std::unique_ptr<SubmissionWriter> submissionWriter(Status* status) = 0;
    // Every row of the bests table: board, name, score, submission id, time.
    virtual Status readBests(const std::function<void(int, QByteArrayView, qint64, qint64, QByteArrayView)>& row) = 0;
    // Settings for one large write (an import); undone by closing the connection.
    virtual Status prepareBulkWrite() = 0;
    // A consistent copy in `file`, where the dialect has one.
    virtual Status backup(const QString& file) = 0;
    // From now on, keeps the disk work of a write-ahead log away from the commits (where the
    // dialect has such a log): its copying into the database file, and the sync that
    // commitUnsynced() leaves to whenDurable(), each on a thread of its own. For a long-running writer.
    virtual void diskWorkInBackground() {}

    // The schema's dialect: the id column, a keyed table's options, the stored version, and the
    // lock that keeps two instances from migrating at once.
    virtual QString idColumn() const = 0;
    virtual QString keyedTableOptions() const = 0;
    virtual Status readSchemaVersion(int* version) = 0;
    virtual QStringList writeSchemaVersion(int version) const = 0;
    virtual Status lockSchema() = 0;
    virtual void unlockSchema() = 0;

protected:
    explicit Database(const QString& driver);
    // The kind of a statement's failure from the database's own code, with its text.
    virtual StoreError classify(const QString& code, const QString& text) const = 0;
    // The wait for a lock held elsewhere, at most (SQLite's busy timeout); -1: the usual.
    virtual void limitWait(int) {}
    // Makes a commit durable where COMMIT alone does not (see commitUnsynced()).
    virtual Status syncAfterCommit() { return {}; }
    Status markLost(const QString& why);
    void setLost(bool lost) { m_lost = lost; }

private:
    Status retryUntil(const std::function<Status()>& work, int attempts, int pauseMs, bool transaction, QDeadlineTimer deadline);
    QString m_connection;
    bool m_lost = false;
};

} // namespace zimble::server
