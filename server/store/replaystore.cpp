// Replays as the store takes them: matched to the submission they back, checked, and stored
// with their verdict, a verified one possibly setting its board's verified record.

#include "isotime.h"
#include "database.h"
#include "scorestore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace zimble::server {

Status ScoreStore::replay(qint64 id, std::optional<StoredReplay>* out)
{
    out->reset();
    if (m_db->isLost())
        return Status::lost(QStringLiteral("the connection to the database is lost; reconnecting"));
    QSqlQuery q = m_db->query();
    if (Status s = m_db->prepare(q, QStringLiteral("SELECT r.board, r.name, r.score, r.cycles, r.clicks, r.click_cycles, "
                                                   "r.verified, r.reason, r.submission_id, s.submitted_at, r.received_at "
                                                   "FROM replays r LEFT JOIN submissions s ON s.id = r.submission_id "
                                                   "WHERE r.id = ?"));
        !s)
        return s;
    q.bindValue(0, id);
    if (Status s = m_db->run(q); !s)
        return s;
    if (!q.next())
        return {};
    StoredReplay r;
    r.id = id;
    r.replay.boardSize = q.value(0).toInt();
    r.name = q.value(1).toString();
    r.whole = q.value(2).toLongLong();
    r.replay.clockCycles = q.value(3).toInt();
    r.replay.clicks = decodeClicks(q.value(4).toString()).value_or(std::vector<std::int32_t>());
    // As the replay request carries them; anything unreadable is shown at an even pace.
    r.replay.clickCycles = decodeClickCycles(q.value(5).toString(), r.replay.clicks.size()).value_or(std::vector<std::int32_t>());
    if (r.replay.clickCycles.size() != r.replay.clicks.size())
        r.replay.clickCycles.clear();
    r.verified = q.value(6).toInt() == 1;
    r.reason = q.value(7).toString();
    r.submission = q.value(8).toLongLong();
    r.submittedAt = fromIso(q.value(9));
    r.receivedAt = fromIso(q.value(10));
    *out = std::move(r);
    return {};
}

Status ScoreStore::findSubmission(int index, const QString& name, qint64 whole, qint64* id, QDateTime* at)
{
    // A replay backs the name's best on the board, which the standings know; anything else is
    // refused without searching the table. The row is read again inside the transaction, after
    // the records' lock, so a name being removed cannot get a verified record back.
    *id = 0;
    std::optional<Standings::Best> best = m_boards.best(index, name);
    if (!best || best->score != whole) {
        // The submission may have gone to another instance a moment ago: take in what others stored.
        if (Status s = readSince(m_boards, nullptr); !s)
            return s;
        best = m_boards.best(index, name);
        if (!best || best->score != whole)
            return {};
    }
    m_submissionExists->bindValue(0, best->id);
    if (Status s = m_db->run(*m_submissionExists); !s)
        return s;
    if (m_submissionExists->next()) {
        *id = best->id;
        *at = best->at;
    }
    m_submissionExists->finish();
    return {};
}

Status ScoreStore::storeReplays(const ReplaySubmission& submission, const QString& client, QList<ReplayResult>* results)
{
    m_afterBatch.reset(); // this connection's own commits do not change the count of others'
    if (m_db->isLost())
        return Status::lost(QStringLiteral("the connection to the database is lost; reconnecting"));
    // A replay is matched against the standings, which must have been read first.
    if (Status s = ensureStandings(); !s)
        return s;
    if (Status s = m_db->retry([&] { return runReplays(submission, client, results); }, 5, 25, true, QDeadlineTimer(12000)); !s)
        return s;
    return readReplaysSince(m_boards);
}

Status ScoreStore::runReplays(const ReplaySubmission& submission, const QString& client, QList<ReplayResult>* results)
{
    results->clear();
    if (Status s = m_db->beginWrite(); !s)
        return s;
    // The verified records are locked for the transaction, as the records are by submissions.
    WorldRecords current;
    if (Status s = readRecords(*m_lockVerified, current); !s)
        return s;
    const QString now = isoNow();
    for (const SubmittedReplay& r : submission.replays) {
        const int board = r.replay.boardSize;
        const int index = board - FirstBoard;
        ReplayResult result;
        result.board = board;
        const ReplayVerdict verdict = verifyReplay(r.replay, r.whole);
        qint64 id = 0;
        QDateTime at;
        if (Status s = findSubmission(index, submission.name, r.whole, &id, &at); !s)
            return s;
        result.verified = verdict == ReplayVerdict::Verified && id > 0;
        result.reason = verdict != ReplayVerdict::Verified ? QString::fromLatin1(replayVerdictText(verdict))
            : id == 0                                      ? QStringLiteral("no such best")
                                                           : QStringLiteral(""); // empty, not NULL
        // The same game verified before (every Update sends it again): nothing new to store.
        if (result.verified && m_boards.isVerified(board, submission.name, r.whole)) {
            results->append(result);
            continue;
        }
        m_insertReplay->bindValue(0, id > 0 ? QVariant(id) : QVariant(QMetaType::fromType<qint64>()));
        m_insertReplay->bindValue(1, board);
        m_insertReplay->bindValue(2, submission.name);
        m_insertReplay->bindValue(3, r.whole);
        m_insertReplay->bindValue(4, r.replay.clockCycles);
        m_insertReplay->bindValue(5, encodeClicks(r.replay.clicks));
        m_insertReplay->bindValue(6, result.verified ? 1 : 0);
        m_insertReplay->bindValue(7, result.reason);
        m_insertReplay->bindValue(8, client);
        m_insertReplay->bindValue(9, now);
        const QString steps = encodeClickCycles(r.replay.clickCycles);
        m_insertReplay->bindValue(10, steps.isNull() ? QStringLiteral("") : steps); // '' for none, not NULL
        if (Status s = m_db->run(*m_insertReplay); !s)
            return s;
        m_insertReplay->finish();
        if (result.verified && r.whole >= current[index].score) {
            m_updateVerified->bindValue(0, r.whole);
            m_updateVerified->bindValue(1, submission.name);
            m_updateVerified->bindValue(2, at.toString(Qt::ISODateWithMs));
            m_updateVerified->bindValue(3, id);
            m_updateVerified->bindValue(4, board);
            m_updateVerified->bindValue(5, r.whole);
            m_updateVerified->bindValue(6, r.whole);
            m_updateVerified->bindValue(7, id);
            if (Status s = m_db->run(*m_updateVerified); !s)
                return s;
            if (m_updateVerified->numRowsAffected() > 0) {
                result.newRecord = true;
                current[index].score = r.whole;
            }
        }
        results->append(result);
    }
    if (Status s = m_db->notifyOthers(); !s)
        return s;
    return m_db->commit();
}

} // namespace zimble::server
