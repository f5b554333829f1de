// The store's answers for player pages and the records API: names found ignoring case, the
// places around a player, and a player's history.

#include "playerqueries.h"
#include "database.h"
#include "scorestore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace zimble::server {

namespace {

// The most recent submissions a history shows.
constexpr int MaxHistory = 1000;

} // namespace

Status ScoreStore::history(const QString& name, std::array<QList<HistoryPoint>, BoardSizeCount>& out)
{
    out = {};
    QSqlQuery q = m_db->query();
    // Counting verified games only, the history is that of the verified replays.
    q.prepare(m_verifiedOnly ? QStringLiteral("SELECT s.submitted_at, r.board, r.score FROM replays r "
                                              "JOIN submissions s ON s.id = r.submission_id "
                                              "WHERE r.name = ? AND r.verified = 1 ORDER BY r.id DESC LIMIT ?")
                             : QStringLiteral("SELECT submitted_at, score4, score5, score6, score7 FROM submissions "
                                              "WHERE name = ? ORDER BY id DESC LIMIT ?"));
    q.addBindValue(name);
    q.addBindValue(MaxHistory);
    if (Status s = m_db->run(q); !s)
        return s;
    while (q.next()) {
        const QDateTime at = QDateTime::fromString(q.value(0).toString(), Qt::ISODateWithMs);
        if (m_verifiedOnly) {
            const int index = q.value(1).toInt() - FirstBoard;
            if (index >= 0 && index < BoardSizeCount)
                out[std::size_t(index)].append({at, q.value(2).toLongLong()});
            continue;
        }
        for (int i = 0; i < BoardSizeCount; ++i) {
            const qint64 score = q.value(1 + i).toLongLong();
            if (score > 0)
                out[std::size_t(i)].append({at, score});
        }
    }
    for (QList<HistoryPoint>& points : out)
        std::reverse(points.begin(), points.end());
    return {};
}

Status ScoreStore::players(const QString& name, int neighbours, QList<PlayerDetail>& out)
{
    out.clear();
    if (Status s = ensureStandings(); !s)
        return s;
    for (PlayerDetail& player : m_boards.players(name, neighbours)) {
        std::array<QList<HistoryPoint>, BoardSizeCount> points;
        if (Status s = history(player.name, points); !s)
            return s;
        for (PlayerBoardDetail& b : player.boards)
            b.history = points[std::size_t(b.board - FirstBoard)];
        out.append(player);
    }
    return {};
}

} // namespace zimble::server
