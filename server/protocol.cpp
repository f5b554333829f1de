#include "protocol.h"

#include <QLocale>
#include <QStringList>

namespace zimble::server {

namespace {

QString joinBoards(const QList<int>& boards)
{
    QStringList parts;
    for (int b : boards)
        parts << QStringLiteral("%1 x %1").arg(b);
    if (parts.size() == 1)
        return parts.first();
    const QString last = parts.takeLast();
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

} // namespace

QByteArray replyHead(const WorldRecords& records)
{
    BoardScores highs{};
    std::array<QString, BoardCount> holders;
    for (int i = 0; i < BoardCount; ++i) {
        // A record past what the game can show (stored by an older release) would make every
        // game refuse the whole reply; it is left out until moderation removes it.
        if (records[i].score > MaxScoreValue)
            continue;
        highs[i] = records[i].score;
        holders[i] = records[i].holder;
    }
    return zimble::formatReplyHead(highs, holders);
}

QByteArray formatReply(const WorldRecords& records, const QString& message)
{
    return zimble::formatReply(replyHead(records), message);
}

QString thanksMessage(const QList<int>& newRecords, const QList<BoardRank>& ranks)
{
    const QString thanks = newRecords.isEmpty()
        ? QStringLiteral("Thank you! Your scores have been recorded.")
        : QStringLiteral("Congratulations! New world record on %1.").arg(joinBoards(newRecords));
    const QString standing = ranksText(ranks);
    return standing.isEmpty() ? thanks : thanks + QLatin1Char(' ') + standing;
}

QString ranksText(const QList<BoardRank>& ranks)
{
    if (ranks.isEmpty())
        return {};
    // Built by appending: every accepted submission's reply carries it.
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    QString text = QStringLiteral("Your ranks: ");
    text.reserve(24 + 32 * ranks.size());
    for (qsizetype i = 0; i < ranks.size(); ++i) {
        const BoardRank& r = ranks[i];
        const QString board = QString::number(r.board);
        if (i > 0)
            text += QLatin1String("; ");
        text += board;
        text += QLatin1String(" x ");
        text += board;
        text += QLatin1Char(' ');
        text += ordinal(r.rank);
        text += QLatin1String(" of ");
        text += english.toString(r.players);
    }
    text += QLatin1Char('.');
    return text;
}

QString replayMessage(const QList<ReplayResult>& results, const QList<BoardRank>& ranks, const QList<int>& recordsHeld)
{
    QList<int> verified, refused;
    for (const ReplayResult& r : results)
        (r.verified ? verified : refused).append(r.board);
    QStringList sentences;
    if (!recordsHeld.isEmpty())
        sentences << QStringLiteral("Congratulations! World record on %1.").arg(joinBoards(recordsHeld));
    if (!verified.isEmpty() && !refused.isEmpty())
        sentences << QStringLiteral("Verified: %1; not verified: %2.").arg(joinBoards(verified), joinBoards(refused));
    else if (!verified.isEmpty())
        sentences << QStringLiteral("Verified: %1.").arg(joinBoards(verified));
    else if (!refused.isEmpty())
        sentences << QStringLiteral("Not verified: %1.").arg(joinBoards(refused));
    const QString standing = ranksText(ranks);
    if (!standing.isEmpty())
        sentences << standing;
    return sentences.isEmpty() ? QStringLiteral("Thank you!") : sentences.join(QLatin1Char(' '));
}

} // namespace zimble::server
