#include "submissionbatcher.h"

namespace zimble::server {

SubmissionBatcher::SubmissionBatcher(Storage& storage, Finished finished, QObject* parent)
    : QObject(parent), m_storage(storage), m_finished(std::move(finished))
{
    m_gather.setSingleShot(true);
    m_gather.setTimerType(Qt::PreciseTimer);
    m_gather.setInterval(1);
    connect(&m_gather, &QTimer::timeout, this, &SubmissionBatcher::maybeDispatch);
}

void SubmissionBatcher::add(PendingSubmission pending)
{
    m_waiting.push_back(std::move(pending));
    maybeDispatch();
}

void SubmissionBatcher::drain(std::function<void()> drained)
{
    m_drained = std::move(drained);
    m_gather.stop();
    if (!m_committing && m_waiting.empty())
        QTimer::singleShot(0, this, [this] { if (m_drained) m_drained(); });
    else
        maybeDispatch();
}

// One transaction at a time on the storage thread; what arrives meanwhile waits and goes into
// the next one. Right after a commit, the next waits up to a millisecond for as many
// submissions as were just answered, since those clients tend to ask again at once; without that
// wait, busy clients split into two halves that take turns, each committing half as much.
void SubmissionBatcher::maybeDispatch()
{
    if (m_committing || m_waiting.empty())
        return;
    if (m_gather.isActive() && qsizetype(m_waiting.size()) < m_gatherTarget)
        return;
    m_gather.stop();
    dispatch();
}

void SubmissionBatcher::dispatch()
{
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
    m_finished(batch, outcome);
    m_committing = false;
    if (m_waiting.empty() && m_drained) {
        QTimer::singleShot(0, this, [this] { if (m_drained) m_drained(); });
        return;
    }
    m_gatherTarget = qsizetype(m_waiting.size()) + batch.size();
    if (!m_drained)
        m_gather.start();
    maybeDispatch();
}

} // namespace zimble::server
