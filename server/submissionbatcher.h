#pragma once
// Group commit for the score exchange: the submissions taken while one transaction runs go
// together into the next, which runs while the one before it syncs.

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

// Invariant: at most one batch is in a transaction at a time, of at most MaxBatch submissions in
// the order they were taken; each submission taken goes into exactly one batch, whose outcome is
// handed on once, after it is on disk; `drained` runs only when nothing is waiting and every
// batch has been handed on.
class SubmissionBatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxBatch = 512;
    using Finished = std::function<void(const QList<PendingSubmission>& batch, const BatchOutcome& outcome)>;

    SubmissionBatcher(Storage& storage, Finished finished, QObject* parent = nullptr);

    void add(PendingSubmission pending);
    // `drained` runs once every submission taken has been stored and handed on.
    void drain(std::function<void()> drained);

private:
    void maybeDispatch();
    void committed();
    void finished(const QList<PendingSubmission>& batch, const BatchOutcome& outcome);
    void maybeDrained();

    Storage& m_storage;
    Finished m_finished;
    std::deque<PendingSubmission> m_waiting;
    bool m_committing = false; // a batch is in its transaction
    int m_unanswered = 0;      // batches dispatched and not handed on yet
    std::function<void()> m_drained;
};

} // namespace zimble::server
