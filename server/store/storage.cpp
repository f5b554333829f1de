#include "storage.h"
#include "logging.h"

#include <QElapsedTimer>
#include <QTimer>

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
    int attempts = 0;

    void open(const QString& location, bool verifiedOnly, bool* ok, QString* error, PageData* initial)
    {
        store = std::make_unique<ScoreStore>(location, verifiedOnly);
        *ok = store->isOpen();
        *error = store->lastError();
        *initial = page;
        if (!*ok)
            return;
        // The standings next, while the service already listens; commits queued meanwhile
        // run after them on this thread.
        QMetaObject::invokeMethod(this, [this] { load(); }, Qt::QueuedConnection);
        store->changedElsewhere();
        // PostgreSQL tells of other instances' commits; SQLite's file is looked at once a
        // second. Either way the timer notices the week turning on a quiet service.
        const bool notified = store->listenForChanges([this] { queueCheck(); });
        poll = std::make_unique<QTimer>();
        poll->setInterval(1000);
        QObject::connect(poll.get(), &QTimer::timeout, this, [this, notified] {
            if (!notified || store->boards().weekTurned(QDateTime::currentDateTimeUtc()))
                checkElsewhere();
        });
        poll->start();
        retryConnection = std::make_unique<QTimer>();
        retryConnection->setSingleShot(true);
        QObject::connect(retryConnection.get(), &QTimer::timeout, this, [this] { reconnect(); });
    }

    void load()
    {
        if (!store->pageData(page)) {
            const QString reason = store->lastError();
            // Requests waiting for the standings are answered "busy" meanwhile.
            QMetaObject::invokeMethod(
                m_owner,
                [o = m_owner] {
                    o->m_loadFailing = true;
                    const QList<std::function<void()>> waiting = std::exchange(o->m_waitingForLoad, {});
                    for (const auto& ready : waiting)
                        ready();
                },
                Qt::QueuedConnection);
            store->checkConnection();
            if (store->connectionLost()) {
                // Read again once reconnected.
                loadAfterReconnect = true;
                noticeLoss(reason);
                return;
            }
            qCWarning(lcStore, "zimble-scored: reading the standings failed (%s); trying again in a second",
                      logText(reason).constData());
            QTimer::singleShot(1000, this, [this] { load(); });
            return;
        }
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
    // growing pauses up to a second, while requests are answered "busy".
    void noticeLoss(const QString& reason)
    {
        if (!store->connectionLost() || retryConnection->isActive() || attempts > 0)
            return;
        qCWarning(lcStore, "zimble-scored: the connection to the database is lost (%s); reconnecting",
                  logText(reason).constData());
        attempts = 0;
        retryConnection->start(100);
    }

    void reconnect()
    {
        ++attempts;
        if (!store->reconnect()) {
            const int pause = std::min(1000, 100 << std::min(attempts, 4));
            qCWarning(lcStore, "zimble-scored: reconnecting, attempt %d failed: %s; next in %d ms", attempts,
                      logText(store->lastError()).constData(), pause);
            retryConnection->start(pause);
            return;
        }
        qCInfo(lcStore, "zimble-scored: reconnected to the database after %d attempt(s)", attempts);
        attempts = 0;
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

    BatchOutcome commit(const QList<Submission>& batch)
    {
        BatchOutcome o;
        QElapsedTimer timer;
        timer.start();
        o.ok = store->submitBatch(batch, &o.won, &o.records);
        o.seconds = timer.nsecsElapsed() / 1e9;
        if (!o.ok) {
            o.error = store->lastError();
            noticeLoss(o.error);
            return o;
        }
        for (const Submission& s : batch)
            o.ranks.append(store->boards().ranks(s.name));
        // The ten best follow the commit in memory; only a change is passed on.
        const PageData fresh = store->boards().page(o.records);
        if (!(fresh == page)) {
            page = fresh;
            o.page = fresh;
        }
        return o;
    }

    ReplayOutcome verify(const ReplaySubmission& submission, const QString& client)
    {
        ReplayOutcome o;
        o.ok = store->storeReplays(submission, client, &o.results);
        if (!o.ok) {
            o.error = store->lastError();
            noticeLoss(o.error);
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
        const bool turned = store->boards().weekTurned(QDateTime::currentDateTimeUtc());
        if (!store->changedElsewhere() && !turned)
            return;
        if (!store->catchUp()) {
            const QString reason = store->lastError();
            store->checkConnection();
            noticeLoss(reason);
            return;
        }
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

void Storage::commit(const QList<Submission>& batch, std::function<void(const BatchOutcome&)> done)
{
    onStorageThread<BatchOutcome>(this, m_worker.get(), [batch](StorageWorker* w) { return w->commit(batch); }, std::move(done));
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
            found.first = w->store->players(name, neighbours, found.second);
            return found;
        },
        [done = std::move(done)](const Found& found) { done(found.first, found.second); });
}

void Storage::around(int board, const QString& name, int count, std::function<void(const std::optional<RankedSlice>&)> done)
{
    onStorageThread<std::optional<RankedSlice>>(
        this, m_worker.get(),
        [board, name, count](StorageWorker* w) {
            return w->store->ensureStandings() ? w->store->boards().around(board, name, count) : std::nullopt;
        },
        std::move(done));
}

} // namespace zimble::server
