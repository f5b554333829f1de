#pragma once
// The score store on a thread of its own, so that waiting for a commit to reach the disk never
// holds up the thread that serves requests. Submissions are committed in batches (group commit):
// while one transaction runs, the next batch gathers on the serving thread, and while its log
// syncs, the next transaction runs.

#include "scorestore.h"

#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>

namespace zimble::server {

struct BatchOutcome {
    bool ok = false;
    QString error;               // the database's own message when not ok
    QList<QList<int>> won;       // per submission: the boards where it set the record
    WorldRecords records;        // as the transaction left them
    std::optional<PageData> page; // set when the page's content changed
    double seconds = 0;          // the transaction, commit included
    QList<QList<BoardRank>> ranks; // per submission: the name's ranks after the commit
};

struct ReplayOutcome {
    bool ok = false;
    QString error;
    QList<ReplayResult> results;
    QList<BoardRank> ranks;       // the name's ranks after the replays were taken in
    std::optional<PageData> page; // set when the page's content changed
};

class StorageWorker;

class Storage : public QObject {
    Q_OBJECT
public:
    // Opens the database on the storage thread and waits for the outcome; the schema is then
    // brought up to date and the standings read there in the background (what needs them waits
    // for whenLoaded()), while the service already answers what does not.
    explicit Storage(const QString& location, bool verifiedOnly = false, QObject* parent = nullptr);
    ~Storage() override;

    bool isOpen() const { return m_open; }
    QString openError() const { return m_openError; }
    const PageData& initialPage() const { return m_initialPage; }
    // Whether the standings have been read (false again while a reload fails); `ready` runs on
    // this object's thread once they have (at once when they are), or once reading them has
    // failed (isLoaded() is then still false).
    // False, and `ready` dropped, while reading them fails or when too many requests wait already:
    // the caller answers "busy" then.
    bool isLoaded() const { return m_loaded; }
    bool whenLoaded(std::function<void()> ready);
    static constexpr qsizetype MaxWaitingForLoad = 4096;

    // Called on this object's thread with the outcome of the `count` submissions taken by
    // submit() from the `first`-th on (counting from 0), in one transaction, once they are on
    // disk or have failed. Outcomes of different transactions may come out of order.
    using Committed = std::function<void(qint64 first, qsizetype count, const BatchOutcome& outcome)>;
    void setCommitListener(Committed listener) { m_commitListener = std::move(listener); }
    // Queues a submission for the storage thread, which takes everything queued (at most
    // MaxBatch) into each transaction as soon as the one before it has committed. Returns its
    // place in the order of submit() calls, counting from 0, as the commit listener counts.
    qint64 submit(const Submission& submission);
    static constexpr qsizetype MaxBatch = 512;
    // Checks and stores replays on the storage thread; `done` then runs on this object's thread.
    void verify(const ReplaySubmission& submission, const QString& client, std::function<void(const ReplayOutcome&)> done);
    // Called on this object's thread when another writer (an instance or the moderation command)
    // changed what the page shows: told at once on PostgreSQL (LISTEN/NOTIFY), checked once a
    // second on SQLite.
    void setPageListener(std::function<void(const PageData&)> listener) { m_pageListener = std::move(listener); }

    // The best placed stored names folding like `name` with their standing (see
    // ScoreStore::players), read on the storage thread; `done` runs on this object's thread, with
    // false when the read failed.
    void players(const QString& name, int neighbours, std::function<void(bool, const FoundPlayers&)> done);
    // The stored replay of that id (see ScoreStore::replay), read on the storage thread; `done`
    // runs on this object's thread, with false when the read failed.
    void replay(qint64 id, std::function<void(bool, const std::optional<StoredReplay>&)> done);
    // The places around the named player on a board (see Leaderboards::around); `done` runs on
    // this object's thread, with false when the standings could not be read.
    void around(int board, const QString& name, int count, std::function<void(bool, const std::optional<RankedSlice>&)> done);

private:
    friend class StorageWorker;
    QThread m_thread;
    std::unique_ptr<StorageWorker> m_worker; // lives on m_thread; deleted once that has ended
    bool m_open = false;
    QString m_openError;
    PageData m_initialPage;
    bool m_loaded = false;
    bool m_loadFailing = false; // the last attempt to read the standings failed
    QList<std::function<void()>> m_waitingForLoad;
    std::function<void(const PageData&)> m_pageListener;
    Committed m_commitListener;
    // The queue between this thread and the storage thread.
    // Invariant: `m_taking` is true from the moment a take is posted to the storage thread until
    // that thread finds the queue empty, so exactly one take is under way while anything waits.
    std::mutex m_queueMutex;
    std::deque<Submission> m_queue;
    qint64 m_queued = 0; // submissions queued so far
    qint64 m_taken = 0;  // submissions taken off the queue so far
    bool m_taking = false;
};

} // namespace zimble::server
