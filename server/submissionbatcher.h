#pragma once
// Group commit for the score exchange: the submissions taken while one transaction syncs go
// together into the next.

#include "server/http/http.h"
#include "server/store/storage.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace zimble::server {

// A submission taken from a request, with what is needed to answer it.
struct PendingSubmission {
    Submission submission;
    HttpResponder responder;
    HttpRequest request;
    qint64 startedNs = 0;
};

// Invariant: at most one batch is being committed at a time, of at most MaxBatch submissions in
// the order they were taken; each submission taken goes into exactly one batch, whose outcome is
// handed on once; `drained` runs only when nothing is waiting and nothing is being committed.
class SubmissionBatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxBatch = 512;
    using Finished = std::function<void(const QList<PendingSubmission>& batch, const BatchOutcome& outcome)>;

    SubmissionBatcher(Storage& storage, Finished finished, QObject* parent = nullptr);

    void add(PendingSubmission pending);
    // `drained` runs once every submission taken has been committed and handed on.
    void drain(std::function<void()> drained);

private:
    void maybeDispatch();
    void finished(const QList<PendingSubmission>& batch, const BatchOutcome& outcome);

    Storage& m_storage;
    Finished m_finished;
    std::deque<PendingSubmission> m_waiting;
    bool m_committing = false;
    std::function<void()> m_drained;
};

} // namespace zimble::server
