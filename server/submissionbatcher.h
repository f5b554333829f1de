#pragma once
// Group commit for the score exchange: the submissions taken while one transaction runs go
// together into the next, which runs while the one before it syncs.

#include "server/http/http.h"
#include "server/store/storage.h"

#include <QObject>

#include <functional>
#include <map>

namespace zimble::server {

// A submission taken from a request, with what is needed to answer it.
struct PendingSubmission {
    Submission submission;
    HttpResponder responder;
    HttpRequest request;
    qint64 startedNs = 0;
};

// Invariant: every submission taken is handed to the storage in the order taken and held here
// until the outcome of its transaction comes back, which is handed on once, after it is on disk;
// `drained` runs only when nothing is held.
class SubmissionBatcher : public QObject {
    Q_OBJECT
public:
    using Finished = std::function<void(const QList<PendingSubmission>& batch, const BatchOutcome& outcome)>;

    SubmissionBatcher(Storage& storage, Finished finished, QObject* parent = nullptr);

    void add(PendingSubmission pending);
    // `drained` runs once every submission taken has been stored and handed on.
    void drain(std::function<void()> drained);

private:
    void committed(qint64 first, qsizetype count, const BatchOutcome& outcome);
    void maybeDrained();

    Storage& m_storage;
    Finished m_finished;
    std::map<qint64, PendingSubmission> m_held; // by their place in the storage's queue
    std::function<void()> m_drained;
};

} // namespace zimble::server
