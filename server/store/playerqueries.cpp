// The store's answers for player pages and the records API (PlayerQueries, playerqueries.h).

#include "playerqueries.h"
#include "database.h"
#include "leaderboards.h"
#include "scorestore.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace zimble::server {

namespace {

// The most recent submissions a history shows.
constexpr int MaxHistory = 1000;

} // namespace

Status PlayerQueries::histories(const QStringList& names, QList<std::array<QList<HistoryPoint>, BoardSizeCount>>& out)
{
    out = QList<std::array<QList<HistoryPoint>, BoardSizeCount>>(names.size());
    if (names.isEmpty())
        return {};
    // One statement for every name: each name's latest submissions through its own index search,
    // joined. Counting verified games only, the history is that of the verified replays.
    const QString one = m_verifiedOnly
        ? QStringLiteral("SELECT * FROM (SELECT r.name, r.id, s.submitted_at, r.board, r.score FROM replays r "
                         "JOIN submissions s ON s.id = r.submission_id "
                         "WHERE r.name = ? AND r.verified = 1 ORDER BY r.id DESC LIMIT ?) AS h%1")
        : QStringLiteral("SELECT * FROM (SELECT name, id, submitted_at, score4, score5, score6, score7 FROM submissions "
                         "WHERE name = ? ORDER BY id DESC LIMIT ?) AS h%1");
    QStringList parts;
    for (qsizetype i = 0; i < names.size(); ++i)
        parts << one.arg(i);
    QSqlQuery q = m_db.query();
    q.prepare(parts.join(QLatin1String(" UNION ALL ")));
    for (const QString& name : names) {
        q.addBindValue(name);
        q.addBindValue(MaxHistory);
    }
    if (Status s = m_db.run(q); !s)
        return s;
    QHash<QString, qsizetype> index;
    for (qsizetype i = 0; i < names.size(); ++i)
        index.insert(names[i], i);
    // Newest first within each name; the histories are kept oldest first.
    QList<QList<std::pair<qint64, std::pair<int, HistoryPoint>>>> rows(names.size());
    while (q.next()) {
        const qsizetype who = index.value(q.value(0).toString(), -1);
        if (who < 0)
            continue;
        const qint64 id = q.value(1).toLongLong();
        const QDateTime at = QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs);
        if (m_verifiedOnly) {
            rows[who].append({id, {q.value(3).toInt() - FirstBoard, HistoryPoint{at, q.value(4).toLongLong()}}});
            continue;
        }
        for (int i = 0; i < BoardSizeCount; ++i) {
            if (const qint64 score = q.value(3 + i).toLongLong(); score > 0)
                rows[who].append({id, {i, HistoryPoint{at, score}}});
        }
    }
    for (qsizetype who = 0; who < names.size(); ++who) {
        std::stable_sort(rows[who].begin(), rows[who].end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [id, point] : rows[who]) {
            if (point.first >= 0 && point.first < BoardSizeCount)
                out[who][std::size_t(point.first)].append(point.second);
        }
    }
    return {};
}

Status PlayerQueries::players(const Leaderboards& boards, const QString& name, int neighbours, FoundPlayers& out)
{
    out = {};
    FoundPlayers found = boards.players(name, neighbours, MaxPlayersShown);
    QStringList names;
    for (const PlayerDetail& player : found.players)
        names << player.name;
    QList<std::array<QList<HistoryPoint>, BoardSizeCount>> points;
    if (Status s = histories(names, points); !s)
        return s;
    for (qsizetype i = 0; i < found.players.size(); ++i) {
        for (PlayerBoardDetail& b : found.players[i].boards)
            b.history = points[i][std::size_t(b.board - FirstBoard)];
    }
    out = std::move(found);
    return {};
}

Status ScoreStore::players(const QString& name, int neighbours, FoundPlayers& out)
{
    out = {};
    if (Status s = ensureStandings(); !s)
        return s;
    return PlayerQueries(*m_db, m_verifiedOnly).players(m_boards, name, neighbours, out);
}

} // namespace zimble::server
