#include "submissionbatcher.h"

namespace zimble::server {

SubmissionBatcher::SubmissionBatcher(Storage& storage, Finished finished, QObject* parent)
    : QObject(parent), m_storage(storage), m_finished(std::move(finished))
{
}

void SubmissionBatcher::add(PendingSubmission pending)
{
    m_waiting.push_back(std::move(pending));
    maybeDispatch();
}

void SubmissionBatcher::drain(std::function<void()> drained)
{
    m_drained = std::move(drained);
    if (!m_committing && m_waiting.empty())
        QTimer::singleShot(0, this, [this] { if (m_drained) m_drained(); });
}

// One transaction at a time on the storage thread; what arrives meanwhile waits and goes into
// the next one, which starts as soon as the storage thread is free.
void SubmissionBatcher::maybeDispatch()
{
    if (m_committing || m_waiting.empty())
        return;
    m_committing = true;
    QList<PendingSubmission> batch;
    QList<Submission> submissions;
    while (!m_waiting.empty() && batch.size() < MaxBatch) {
        submissions.append(m_waiting.front().submission);
        batch.append(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
    m_storage.commit(submissions, [this, batch](const BatchOutcome& o) { finished(batch, o); });
}

void SubmissionBatcher::finished(const QList<PendingSubmission>& batch, const BatchOutcome& outcome)
{
    // The next transaction starts before these replies are written: the storage thread and the
    // disk work while this thread writes to the sockets, and the clients answered now come back
    // for the transaction after it. (Waiting for them instead leaves the storage thread idle for
    // a round trip per batch.)
    m_committing = false;
    maybeDispatch();
    m_finished(batch, outcome);
    if (!m_committing && m_waiting.empty() && m_drained)
        QTimer::singleShot(0, this, [this] { if (m_drained) m_drained(); });
}

} // namespace zimble::server
