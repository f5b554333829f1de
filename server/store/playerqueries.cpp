// The store's answers for player pages and the records API: names found ignoring case, the
// places around a player, and a player's history.

#include "playerqueries.h"
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

QString foldName(const QString& name)
{
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

void Standings::indexFoldedNames() const
{
    const quint32 players = m_names.size();
    if (m_foldNext.size() == players)
        return;
    // Grow the buckets with the players, rehashing everyone; otherwise index only the newcomers.
    quint32 from = quint32(m_foldNext.size());
    if (m_foldHeads.size() < size_t(players) + players / 2) {
        size_t buckets = 1024;
        while (buckets < size_t(players) * 2)
            buckets *= 2;
        m_foldHeads.assign(buckets, 0);
        from = 0;
    }
    m_foldNext.resize(players);
    const size_t mask = m_foldHeads.size() - 1;
    for (quint32 p = from; p < players; ++p) {
        const size_t bucket = qHash(foldName(m_names.name(p))) & mask;
        m_foldNext[p] = m_foldHeads[bucket];
        m_foldHeads[bucket] = p + 1;
    }
}

QStringList Standings::namesFolding(const QString& folded) const
{
    indexFoldedNames();
    QStringList out;
    if (m_foldHeads.empty())
        return out;
    const size_t bucket = qHash(folded) & (m_foldHeads.size() - 1);
    QList<quint32> players;
    for (quint32 p = m_foldHeads[bucket]; p != 0; p = m_foldNext[p - 1]) {
        if (foldName(m_names.name(p - 1)) == folded)
            players.append(p - 1);
    }
    std::sort(players.begin(), players.end()); // players are numbered in order of arrival
    for (quint32 p : players)
        out.append(m_names.name(p));
    return out;
}

QList<RankedEntry> Standings::ranked(int index, qint64 fromRank, int count) const
{
    QList<RankedEntry> out;
    if (index < 0 || index >= BoardSizeCount || fromRank < 1 || count <= 0)
        return out;
    const Board& board = m_boards[size_t(index)];
    board.order.forRange(fromRank - 1, count, [&](const RankedOrder::Entry& e) {
        out.append({m_names.name(e.player), e.score, QDateTime::fromSecsSinceEpoch(qint64(board.byPlayer[e.player].atSec), Qt::UTC), false});
    });
    return out;
}

bool ScoreStore::history(const QString& name, std::array<QList<HistoryPoint>, BoardSizeCount>& out)
{
    out = {};
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    // Counting verified games only, the history is that of the verified replays.
    q.prepare(m_verifiedOnly ? QStringLiteral("SELECT s.submitted_at, r.board, r.score FROM replays r "
                                              "JOIN submissions s ON s.id = r.submission_id "
                                              "WHERE r.name = ? AND r.verified = 1 ORDER BY r.id DESC LIMIT ?")
                             : QStringLiteral("SELECT submitted_at, score4, score5, score6, score7 FROM submissions "
                                              "WHERE name = ? ORDER BY id DESC LIMIT ?"));
    q.addBindValue(name);
    q.addBindValue(MaxHistory);
    if (!q.exec())
        return fail(q);
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
    return true;
}

RankedSlice ScoreStore::slice(int index, qint64 rank, int count) const
{
    const Standings& standings = m_verifiedOnly ? m_verified : m_all;
    RankedSlice out;
    out.board = FirstBoard + index;
    out.firstRank = std::max<qint64>(1, rank - count);
    out.entries = standings.ranked(index, out.firstRank, int(rank + count - out.firstRank + 1));
    for (RankedEntry& e : out.entries)
        e.verified = isVerified(out.board, e.name, e.score);
    return out;
}

bool ScoreStore::players(const QString& name, int neighbours, QList<PlayerDetail>& out)
{
    out.clear();
    if (!ensureStandings())
        return false;
    const Standings& standings = m_verifiedOnly ? m_verified : m_all;
    for (const QString& stored : m_all.namesFolding(foldName(name))) {
        PlayerDetail player{stored, {}};
        for (int i = 0; i < BoardSizeCount; ++i) {
            const std::optional<Standings::Best> best = standings.best(i, stored);
            const std::optional<BoardRank> rank = standings.rank(i, stored);
            if (best && rank)
                player.boards.append({FirstBoard + i, best->score, best->at, *rank,
                                      isVerified(FirstBoard + i, stored, best->score), slice(i, rank->rank, neighbours), {}});
        }
        if (player.boards.isEmpty())
            continue;
        std::array<QList<HistoryPoint>, BoardSizeCount> points;
        if (!history(stored, points))
            return false;
        for (PlayerBoardDetail& b : player.boards)
            b.history = points[std::size_t(b.board - FirstBoard)];
        out.append(player);
    }
    return true;
}

std::optional<RankedSlice> ScoreStore::around(int board, const QString& name, int count) const
{
    const int index = board - FirstBoard;
    if (index < 0 || index >= BoardSizeCount)
        return std::nullopt;
    const Standings& standings = m_verifiedOnly ? m_verified : m_all;
    // The name as given when it is stored so, else the best placed of those folding alike.
    std::optional<BoardRank> found = standings.rank(index, name);
    if (!found) {
        for (const QString& stored : m_all.namesFolding(foldName(name))) {
            const std::optional<BoardRank> r = standings.rank(index, stored);
            if (r && (!found || r->rank < found->rank))
                found = r;
        }
    }
    if (!found)
        return std::nullopt;
    return slice(index, found->rank, count);
}

} // namespace zimble::server
