#include "submissionbatcher.h"

#include <QTimer>

#include <utility>

namespace zimble::server {

SubmissionBatcher::SubmissionBatcher(Storage& storage, Finished finished, QObject* parent)
    : QObject(parent), m_storage(storage), m_finished(std::move(finished))
{
    m_storage.setCommitListener([this](qint64 first, qsizetype count, const BatchOutcome& o) { committed(first, count, o); });
}

// The storage thread takes everything queued into its next transaction as soon as the one before
// has committed (while that one's log may still be syncing).
void SubmissionBatcher::add(PendingSubmission pending)
{
    const qint64 place = m_storage.submit(pending.submission);
    m_held.emplace(place, std::move(pending));
}

void SubmissionBatcher::drain(std::function<void()> drained)
{
    m_drained = std::move(drained);
    QTimer::singleShot(0, this, [this] { maybeDrained(); });
}

void SubmissionBatcher::committed(qint64 first, qsizetype count, const BatchOutcome& outcome)
{
    QList<PendingSubmission> batch;
    batch.reserve(count);
    for (qint64 i = first; i < first + count; ++i) {
        auto held = m_held.find(i);
        if (held == m_held.end())
            continue; // never so: each submission is in exactly one transaction
        batch.append(std::move(held->second));
        m_held.erase(held);
    }
    m_finished(batch, outcome);
    maybeDrained();
}

void SubmissionBatcher::maybeDrained()
{
    if (m_drained && m_held.empty())
        std::exchange(m_drained, {})(); // once
}

} // namespace zimble::server
