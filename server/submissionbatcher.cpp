#include "submissionbatcher.h"

#include <utility>

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
    QTimer::singleShot(0, this, [this] { maybeDrained(); });
}

// One transaction at a time on the storage thread; what arrives meanwhile waits and goes into
// the next one, which starts as soon as the storage thread is free (while the last one's log
// may still be syncing).
void SubmissionBatcher::maybeDispatch()
{
    if (m_committing || m_waiting.empty())
        return;
    m_committing = true;
    ++m_unanswered;
    QList<PendingSubmission> batch;
    QList<Submission> submissions;
    while (!m_waiting.empty() && batch.size() < MaxBatch) {
        submissions.append(m_waiting.front().submission);
        batch.append(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
    m_storage.commit(
        submissions, [this] { committed(); }, [this, batch](const BatchOutcome& o) { finished(batch, o); });
}

void SubmissionBatcher::committed()
{
    m_committing = false;
    maybeDispatch();
}

void SubmissionBatcher::finished(const QList<PendingSubmission>& batch, const BatchOutcome& outcome)
{
    --m_unanswered;
    m_finished(batch, outcome);
    maybeDrained();
}

void SubmissionBatcher::maybeDrained()
{
    if (m_drained && !m_committing && m_unanswered == 0 && m_waiting.empty())
        std::exchange(m_drained, {})(); // once
}

} // namespace zimble::server
