#include "storage.h"
#include "logging.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace zimble::server {

// Lives on the storage thread; owns the connection there.
class StorageWorker : public QObject {
public:
    // The Storage outlives the worker's use of it: its destructor waits for the storage thread.
    explicit StorageWorker(Storage* owner) : m_owner(owner) {}

    std::unique_ptr<ScoreStore> store;
    std::unique_ptr<QTimer> poll;
    std::unique_ptr<QTimer> retryConnection;
    PageData page;
    bool checkQueued = false;
    bool loadAfterReconnect = false;
    bool loadLogged = false; // a failed read of the standings logged, once until it succeeds
    int attempts = 0;

    void open(const QString& location, bool verifiedOnly, bool* ok, QString* error, PageData* initial)
    {
        // The schema is brought up to date in the background, while the service already listens.
        store = std::make_unique<ScoreStore>(location, verifiedOnly, ScoreStore::Migration::Later);
        *ok = store->isOpen();
        *error = store->openError();
        *initial = page;
        if (!*ok)
            return;
        // Requests keep coming, so commits should not wait for the log to be copied back or synced.
        store->diskWorkInBackground();
        // The standings next; commits queued meanwhile run after them on this thread.
        QMetaObject::invokeMethod(this, [this] { load(); }, Qt::QueuedConnection);
        retryConnection = std::make_unique<QTimer>();
        retryConnection->setSingleShot(true);
        QObject::connect(retryConnection.get(), &QTimer::timeout, this, [this] { reconnect(); });
    }

    // After the migration: other writers' changes are looked for from now on.
    void follow()
    {
        if (poll)
            return;
        store->changedElsewhere();
        // PostgreSQL tells of other instances' commits; SQLite's file is looked at once a
        // second. Either way the timer notices the week turning on a quiet service, and on
        // PostgreSQL a lost connection (and with it its LISTEN) on a quiet service.
        const bool notified = store->listenForChanges([this] { queueCheck(); });
        poll = std::make_unique<QTimer>();
        poll->setInterval(1000);
        QObject::connect(poll.get(), &QTimer::timeout, this, [this, notified] {
            if (store->connectionLost())
                return;
            if (notified && !store->boards().weekTurned(QDateTime::currentDateTimeUtc())) {
                if (const Status s = store->probe(); !s)
                    noticeLoss(s);
                return;
            }
            checkElsewhere();
        });
        poll->start();
    }

    // Tells the owner that the standings are not (or no longer) read: requests needing them
    // wait, or are answered "busy" while reading them fails.
    void standingsUnread(bool failing)
    {
        QMetaObject::invokeMethod(
            m_owner,
            [o = m_owner, failing] {
                o->m_loaded = false;
                o->m_loadFailing = failing;
                if (!failing)
                    return;
                const QList<std::function<void()>> waiting = std::exchange(o->m_waitingForLoad, {});
                for (const auto& ready : waiting)
                    ready();
            },
            Qt::QueuedConnection);
    }

    void load()
    {
        Status s = store->isMigrated() ? Status() : store->migrate();
        if (s) {
            follow();
            s = store->pageData(page);
        }
        if (!s) {
            // Requests waiting for the standings are answered "busy" meanwhile, except while
            // another instance migrates (they wait for that).
            standingsUnread(!s.is(StoreError::Kind::Busy) || store->isMigrated());
            if (store->connectionLost()) {
                // Read again once reconnected.
                loadAfterReconnect = true;
                noticeLoss(s);
                return;
            }
            if (!std::exchange(loadLogged, true))
                qCWarning(lcStore, "zimble-scored: %s failed (%s); trying again every second",
                          store->isMigrated() ? "reading the standings" : "bringing the database up to date",
                          logText(s.reason()).constData());
            QTimer::singleShot(1000, this, [this] { load(); });
            return;
        }
        if (std::exchange(loadLogged, false))
            qCInfo(lcStore, "zimble-scored: the standings are read");
        QMetaObject::invokeMethod(
            m_owner,
            [o = m_owner, fresh = page] {
                o->m_initialPage = fresh;
                o->m_loaded = true;
                o->m_loadFailing = false;
                if (o->m_pageListener)
                    o->m_pageListener(fresh);
                const QList<std::function<void()>> waiting = std::exchange(o->m_waitingForLoad, {});
                for (const auto& ready : waiting)
                    ready();
            },
            Qt::QueuedConnection);
    }

    void close()
    {
        retryConnection.reset();
        poll.reset();
        store.reset();
    }

    // After a failure: when the connection itself is gone, reconnect in the background, with
    // growing pauses up to a second, while requests are answered "busy". One outage is logged
    // once: when found, its first failed attempt, and the reconnection with the count.
    void noticeLoss(const Status& failure)
    {
        if (!store->connectionLost() || retryConnection->isActive() || attempts > 0)
            return;
        qCWarning(lcStore, "zimble-scored: the connection to the database is lost (%s); reconnecting",
                  logText(failure.reason()).constData());
        retryConnection->start(100);
    }

    void reconnect()
    {
        ++attempts;
        if (const Status s = store->reconnect(); !s) {
            const int pause = std::min(1000, 100 << std::min(attempts, 4));
            if (attempts == 1)
                qCWarning(lcStore, "zimble-scored: reconnecting, attempt 1 failed: %s; next in %d ms, then every second "
                                   "until it comes back",
                          logText(s.reason()).constData(), pause);
            retryConnection->start(pause);
            return;
        }
        qCInfo(lcStore, "zimble-scored: reconnected to the database after %d attempt(s)", attempts);
        attempts = 0; // the next outage is noticed and recovered like this one
        if (std::exchange(loadAfterReconnect, false)) {
            load();
            return;
        }
        publishPage();
    }

    static QByteArray logText(const QString& text)
    {
        // One line: the drivers' messages carry line breaks.
        return text.simplified().toUtf8();
    }

    // A failure that may have left the standings unread (a reload after a moderation).
    void afterFailure(const Status& s)
    {
        if (!store->standingsRead())
            standingsUnread(true);
        noticeLoss(s);
    }

    // Takes what the serving thread queued into one transaction; while more waits, comes back
    // for it after whatever else was asked of this thread meanwhile.
    void takeQueued()
    {
        QList<Submission> batch;
        qint64 first = 0;
        {
            std::lock_guard lock(m_owner->m_queueMutex);
            std::deque<Submission>& queue = m_owner->m_queue;
            if (queue.empty()) {
                m_owner->m_taking = false;
                return;
            }
            const qsizetype n = std::min<qsizetype>(qsizetype(queue.size()), Storage::MaxBatch);
            batch.reserve(n);
            for (qsizetype i = 0; i < n; ++i) {
                batch.append(std::move(queue.front()));
                queue.pop_front();
            }
            first = std::exchange(m_owner->m_taken, m_owner->m_taken + n);
        }
        // The game gives up after 20 s: a batch still busy after 12 s is answered "busy".
        commit(batch, QDeadlineTimer(12000), [owner = m_owner, first, n = batch.size()](const BatchOutcome& o) {
            QMetaObject::invokeMethod(
                owner, [owner, first, n, o] { if (owner->m_commitListener) owner->m_commitListener(first, n, o); },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this] { takeQueued(); }, Qt::QueuedConnection);
    }

    // Commits the batch, then hands its outcome to `done` once it is on disk (on the syncer's
    // thread, or at once): meanwhile this thread is free for the next batch.
    void commit(const QList<Submission>& batch, QDeadlineTimer deadline, std::function<void(const BatchOutcome&)> done)
    {
        BatchOutcome o;
        QElapsedTimer timer;
        timer.start();
        const Status s = store->submitBatch(batch, &o.won, &o.records, deadline);
        o.ok = s.ok();
        o.seconds = timer.nsecsElapsed() / 1e9;
        if (!o.ok) {
            o.error = s.reason();
            afterFailure(s);
            done(o);
            return;
        }
        for (const Submission& sub : batch)
            o.ranks.append(store->boards().ranks(sub.name));
        // The ten best follow the commit in memory; only a change is passed on.
        const PageData fresh = store->boards().page(o.records);
        if (!(fresh == page)) {
            page = fresh;
            o.page = fresh;
        }
        store->whenDurable([o = std::move(o), timer, done = std::move(done)](const Status& synced) mutable {
            o.seconds = timer.nsecsElapsed() / 1e9;
            if (!synced) {
                // Committed, but not known to be on disk: not acknowledged. Others may see the
                // batch already, so the page's change still goes out.
                BatchOutcome failed;
                failed.error = synced.reason();
                failed.page = std::move(o.page);
                failed.seconds = o.seconds;
                o = std::move(failed);
            }
            done(o);
        });
    }

    ReplayOutcome verify(const ReplaySubmission& submission, const QString& client)
    {
        ReplayOutcome o;
        const Status s = store->storeReplays(submission, client, &o.results);
        o.ok = s.ok();
        if (!o.ok) {
            o.error = s.reason();
            afterFailure(s);
            return o;
        }
        o.ranks = store->boards().ranks(submission.name);
        PageData fresh;
        if (store->pageData(fresh) && !(fresh == page)) {
            page = fresh;
            o.page = fresh;
        }
        return o;
    }

    // Notifications come in bursts (one per commit of each instance): one check takes them all.
    void queueCheck()
    {
        if (checkQueued)
            return;
        checkQueued = true;
        QTimer::singleShot(0, this, [this] {
            checkQueued = false;
            checkElsewhere();
        });
    }

    void checkElsewhere()
    {
        // Other writers' changes, and the week turning on a quiet service, both change the page.
        if (store->connectionLost())
            return;
        const bool unread = !store->standingsRead();
        const bool turned = store->boards().weekTurned(QDateTime::currentDateTimeUtc());
        if (!store->changedElsewhere() && !turned && !unread)
            return;
        if (const Status s = store->catchUp(); !s) {
            afterFailure(s);
            return;
        }
        if (unread)
            load(); // read anew after a failed reload: the owner learns that they are read again
        else
            publishPage();
    }

    // Passed on even when the page looks the same: player pages and API answers may have changed.
    void publishPage()
    {
        PageData fresh;
        if (!store->pageData(fresh))
            return;
        page = fresh;
        QMetaObject::invokeMethod(
            m_owner,
            [o = m_owner, fresh] {
                if (o->m_pageListener)
                    o->m_pageListener(fresh);
            },
            Qt::QueuedConnection);
    }

private:
    Storage* m_owner;
};

Storage::Storage(const QString& location, bool verifiedOnly, QObject* parent)
    : QObject(parent)
    , m_worker(std::make_unique<StorageWorker>(this))
{
    m_thread.setObjectName(QStringLiteral("zimble-storage"));
    m_thread.start();
    m_worker->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_worker.get(), [this, location, verifiedOnly] { m_worker->open(location, verifiedOnly, &m_open, &m_openError, &m_initialPage); },
        Qt::BlockingQueuedConnection);
}

Storage::~Storage()
{
    QMetaObject::invokeMethod(m_worker.get(), [w = m_worker.get()] { w->close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    // Replies the worker queued for this object are dropped with it.
    m_worker.reset();
}

bool Storage::whenLoaded(std::function<void()> ready)
{
    if (m_loaded) {
        ready();
        return true;
    }
    if (m_loadFailing || m_waitingForLoad.size() >= MaxWaitingForLoad)
        return false;
    m_waitingForLoad.append(std::move(ready));
    return true;
}

namespace {

// Runs `work` with the worker on the storage thread, then `done` with its result on the thread of
// `storage`. The storage waits for the storage thread before it goes, and the replies queued for
// it go with it, so neither side is read off its own thread.
template <class Result>
void onStorageThread(Storage* storage, StorageWorker* worker, std::function<Result(StorageWorker*)> work,
                     std::function<void(const Result&)> done)
{
    QMetaObject::invokeMethod(
        worker,
        [storage, worker, work = std::move(work), done = std::move(done)] {
            Result result = work(worker);
            QMetaObject::invokeMethod(
                storage, [result = std::move(result), done] { done(result); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

} // namespace

qint64 Storage::submit(const Submission& submission)
{
    bool post = false;
    qint64 place = 0;
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(submission);
        place = m_queued++;
        post = !std::exchange(m_taking, true);
    }
    if (post)
        QMetaObject::invokeMethod(m_worker.get(), [worker = m_worker.get()] { worker->takeQueued(); }, Qt::QueuedConnection);
    return place;
}

void Storage::verify(const ReplaySubmission& submission, const QString& client,
                     std::function<void(const ReplayOutcome&)> done)
{
    onStorageThread<ReplayOutcome>(
        this, m_worker.get(), [submission, client](StorageWorker* w) { return w->verify(submission, client); }, std::move(done));
}

void Storage::players(const QString& name, int neighbours, std::function<void(bool, const FoundPlayers&)> done)
{
    using Found = std::pair<bool, FoundPlayers>;
    onStorageThread<Found>(
        this, m_worker.get(),
        [name, neighbours](StorageWorker* w) {
            Found found;
            const Status s = w->store->players(name, neighbours, found.second);
            found.first = s.ok();
            if (!s)
                w->afterFailure(s);
            return found;
        },
        [done = std::move(done)](const Found& found) { done(found.first, found.second); });
}

void Storage::replay(qint64 id, std::function<void(bool, const std::optional<StoredReplay>&)> done)
{
    using Found = std::pair<bool, std::optional<StoredReplay>>;
    onStorageThread<Found>(
        this, m_worker.get(),
        [id](StorageWorker* w) {
            Found found;
            const Status s = w->store->replay(id, &found.second);
            found.first = s.ok();
            if (!s)
                w->afterFailure(s);
            return found;
        },
        [done = std::move(done)](const Found& found) { done(found.first, found.second); });
}

void Storage::around(int board, const QString& name, int count, std::function<void(bool, const std::optional<RankedSlice>&)> done)
{
    using Found = std::pair<bool, std::optional<RankedSlice>>;
    onStorageThread<Found>(
        this, m_worker.get(),
        [board, name, count](StorageWorker* w) {
            // Unread standings are a failure to report, not a name that has no place.
            if (const Status s = w->store->ensureStandings(); !s) {
                w->afterFailure(s);
                return Found(false, std::nullopt);
            }
            return Found(true, w->store->boards().around(board, name, count));
        },
        [done = std::move(done)](const Found& found) { done(found.first, found.second); });
}

} // namespace zimble::server
