#include "protocol.h"

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

// Appends `n` with a comma between each group of three digits, as English writes it
// ("1,234,567"); QLocale::toString does the same several times slower, and every accepted
// submission's reply carries up to eight such numbers.
void appendGrouped(QString& text, qint64 n)
{
    char digits[32];
    char* end = digits + sizeof digits;
    char* p = end;
    const bool negative = n < 0;
    quint64 v = negative ? 0 - quint64(n) : quint64(n);
    int count = 0;
    do {
        if (count > 0 && count % 3 == 0)
            *--p = ',';
        *--p = char('0' + v % 10);
        v /= 10;
        ++count;
    } while (v != 0);
    if (negative)
        *--p = '-';
    text += QLatin1StringView(p, end - p);
}

// "1st", "2nd", "1,012th", as the pages write a rank.
void appendOrdinal(QString& text, qint64 n)
{
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    appendGrouped(text, n);
    text += QLatin1StringView((lastTwo >= 11 && lastTwo <= 13) ? "th"
                              : last == 1                      ? "st"
                              : last == 2                      ? "nd"
                              : last == 3                      ? "rd"
                                                               : "th");
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
    QString text = QStringLiteral("Your ranks: ");
    text.reserve(24 + 40 * ranks.size());
    for (qsizetype i = 0; i < ranks.size(); ++i) {
        const BoardRank& r = ranks[i];
        if (i > 0)
            text += QLatin1String("; ");
        appendGrouped(text, r.board);
        text += QLatin1String(" x ");
        appendGrouped(text, r.board);
        text += QLatin1Char(' ');
        appendOrdinal(text, r.rank);
        text += QLatin1String(" of ");
        appendGrouped(text, r.players);
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
