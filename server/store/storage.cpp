#include "storage.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace zimble::server {

// Lives on the storage thread; owns the connection there.
class StorageWorker : public QObject {
public:
    std::unique_ptr<ScoreStore> store;
    std::unique_ptr<QTimer> poll;
    PageData page;
    QPointer<Storage> owner;

    void open(const QString& location, bool verifiedOnly, bool* ok, QString* error, PageData* initial)
    {
        store = std::make_unique<ScoreStore>(location, verifiedOnly);
        *ok = store->isOpen() && store->pageData(page);
        *error = store->lastError();
        *initial = page;
        if (!*ok)
            return;
        store->changedElsewhere();
        poll = std::make_unique<QTimer>();
        poll->setInterval(1000);
        QObject::connect(poll.get(), &QTimer::timeout, this, [this] { checkElsewhere(); });
        poll->start();
    }

    void close()
    {
        poll.reset();
        store.reset();
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
            return o;
        }
        for (const Submission& s : batch)
            o.ranks.append(store->ranks(s.name));
        // The ten best follow the commit in memory; only a change is passed on.
        const PageData fresh = store->pageWith(o.records);
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
            return o;
        }
        o.ranks = store->ranks(submission.name);
        PageData fresh;
        if (store->pageData(fresh) && !(fresh == page)) {
            page = fresh;
            o.page = fresh;
        }
        return o;
    }

    void checkElsewhere()
    {
        // Other writers' changes, and the week turning on a quiet service, both change the page.
        const bool turned = store->weekTurned();
        if ((!store->changedElsewhere() && !turned) || !store->catchUp())
            return;
        // Passed on even when the page looks the same: player pages and API answers may have changed.
        PageData fresh;
        if (!store->pageData(fresh))
            return;
        page = fresh;
        if (!owner)
            return;
        QMetaObject::invokeMethod(
            owner.data(),
            [o = owner, fresh] {
                if (o && o->m_pageListener)
                    o->m_pageListener(fresh);
            },
            Qt::QueuedConnection);
    }
};

Storage::Storage(const QString& location, bool verifiedOnly, QObject* parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("zimble-storage"));
    m_thread.start();
    m_worker = new StorageWorker;
    m_worker->owner = this;
    m_worker->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_worker, [this, location, verifiedOnly] { m_worker->open(location, verifiedOnly, &m_open, &m_openError, &m_initialPage); },
        Qt::BlockingQueuedConnection);
}

Storage::~Storage()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

namespace {

// Runs `work` with the worker on the storage thread, then `done` with its result on the thread of
// `storage`, unless the storage is gone by then.
template <class Result>
void onStorageThread(Storage* storage, StorageWorker* worker, std::function<Result(StorageWorker*)> work,
                     std::function<void(const Result&)> done)
{
    QMetaObject::invokeMethod(
        worker,
        [worker, work = std::move(work), done = std::move(done), self = QPointer<Storage>(storage)] {
            Result result = work(worker);
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self.data(),
                [self, result = std::move(result), done] {
                    if (self)
                        done(result);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

} // namespace

void Storage::commit(const QList<Submission>& batch, std::function<void(const BatchOutcome&)> done)
{
    onStorageThread<BatchOutcome>(this, m_worker, [batch](StorageWorker* w) { return w->commit(batch); }, std::move(done));
}

void Storage::verify(const ReplaySubmission& submission, const QString& client,
                     std::function<void(const ReplayOutcome&)> done)
{
    onStorageThread<ReplayOutcome>(
        this, m_worker, [submission, client](StorageWorker* w) { return w->verify(submission, client); }, std::move(done));
}

void Storage::player(const QString& name, std::function<void(const QList<PlayerBoard>&)> done)
{
    onStorageThread<QList<PlayerBoard>>(
        this, m_worker, [name](StorageWorker* w) { return w->store->player(name); }, std::move(done));
}

void Storage::players(const QString& name, int neighbours, std::function<void(bool, const QList<PlayerDetail>&)> done)
{
    using Found = std::pair<bool, QList<PlayerDetail>>;
    onStorageThread<Found>(
        this, m_worker,
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
        this, m_worker, [board, name, count](StorageWorker* w) { return w->store->around(board, name, count); },
        std::move(done));
}

} // namespace zimble::server
