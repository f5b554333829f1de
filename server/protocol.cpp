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

} // namespace

QByteArray formatReply(const WorldRecords& records, const QString& message)
{
    BoardScores highs{};
    std::array<QString, BoardCount> holders;
    for (int i = 0; i < BoardCount; ++i) {
        highs[i] = records[i].score;
        holders[i] = records[i].holder;
    }
    return zimble::formatReply(highs, holders, message);
}

QString thanksMessage(const QString& name, const QList<int>& newRecords)
{
    if (newRecords.isEmpty())
        return QStringLiteral("Thank you, %1. Your scores have been recorded.").arg(name);
    return QStringLiteral("Congratulations, %1! You set the new world record for the %2 board%3.")
        .arg(name, joinBoards(newRecords), newRecords.size() > 1 ? QStringLiteral("s") : QString());
}

} // namespace zimble::server
