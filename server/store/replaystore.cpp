// Replays as the store takes them: matched to the submission they back, checked, and stored
// with their verdict, a verified one possibly setting its board's verified record.

#include "isotime.h"
#include "scorestore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace zimble::server {

bool ScoreStore::findSubmission(int index, const QString& name, qint64 whole, qint64* id, QDateTime* at)
{
    // A replay backs the name's best on the board, which the standings know; anything else is
    // refused without searching the table. The row is read again inside the transaction, after
    // the records' lock, so a name being removed cannot get a verified record back.
    *id = 0;
    std::optional<Standings::Best> best = m_boards.best(index, name);
    if (!best || best->score != whole) {
        // The submission may have gone to another instance a moment ago: take in what others stored.
        if (!readSince(m_boards, nullptr))
            return false;
        best = m_boards.best(index, name);
        if (!best || best->score != whole)
            return true;
    }
    m_submissionExists->bindValue(0, best->id);
    if (!m_submissionExists->exec())
        return fail(*m_submissionExists);
    if (m_submissionExists->next()) {
        *id = best->id;
        *at = best->at;
    }
    m_submissionExists->finish();
    return true;
}

bool ScoreStore::storeReplays(const ReplaySubmission& submission, const QString& client, QList<ReplayResult>* results)
{
    if (m_lost) {
        m_error = QStringLiteral("the connection to the database is lost; reconnecting");
        return false;
    }
    // A replay is matched against the standings, which must have been read first.
    if (!ensureStandings())
        return false;
    if (!retry([&] { return runReplays(submission, client, results); }, 5, 25))
        return false;
    return readReplaysSince(m_boards);
}

bool ScoreStore::runReplays(const ReplaySubmission& submission, const QString& client, QList<ReplayResult>* results)
{
    results->clear();
    if (!exec(m_sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return false;
    // The verified records are locked for the transaction, as the records are by submissions.
    WorldRecords current;
    if (!readRecords(*m_lockVerified, current))
        return false;
    const QString now = isoNow();
    for (const SubmittedReplay& r : submission.replays) {
        const int board = r.replay.boardSize;
        const int index = board - FirstBoard;
        ReplayResult result;
        result.board = board;
        const ReplayVerdict verdict = verifyReplay(r.replay, r.whole);
        qint64 id = 0;
        QDateTime at;
        if (!findSubmission(index, submission.name, r.whole, &id, &at))
            return false;
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
        if (!m_insertReplay->exec())
            return fail(*m_insertReplay);
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
            if (!m_updateVerified->exec())
                return fail(*m_updateVerified);
            if (m_updateVerified->numRowsAffected() > 0) {
                result.newRecord = true;
                current[index].score = r.whole;
            }
        }
        results->append(result);
    }
    return notifyOthers() && exec(QStringLiteral("COMMIT"));
}

} // namespace zimble::server
