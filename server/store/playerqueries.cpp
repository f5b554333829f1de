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

QStringList Standings::namesFolding(const QString& folded) const
{
    return m_folded.value(folded);
}

QList<RankedEntry> Standings::ranked(int index, qint64 fromRank, int count) const
{
    QList<RankedEntry> out;
    if (index < 0 || index >= 4 || fromRank < 1)
        return out;
    const Board& board = m_boards[std::size_t(index)];
    for (auto it = board.order.find_by_order(std::size_t(fromRank - 1)); it != board.order.end() && out.size() < count; ++it) {
        const Best& b = board.byName.value(it->second);
        out.append({it->second, b.score, b.at, false});
    }
    return out;
}

bool ScoreStore::createPlayerIndexes()
{
    // A player's history is read by name. Instances starting together may race to create the
    // index; whoever loses finds it made, so a failure here costs only speed.
    execStartup(QStringLiteral("CREATE INDEX IF NOT EXISTS submissions_by_player ON submissions (name)"));
    execStartup(QStringLiteral("CREATE INDEX IF NOT EXISTS replays_by_player ON replays (name)"));
    return true;
}

bool ScoreStore::history(const QString& name, std::array<QList<HistoryPoint>, 4>& out)
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
            if (index >= 0 && index < 4)
                out[std::size_t(index)].append({at, q.value(2).toLongLong()});
            continue;
        }
        for (int i = 0; i < 4; ++i) {
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
    const Standings& standings = m_verifiedOnly ? m_verified : m_all;
    for (const QString& stored : m_all.namesFolding(foldName(name))) {
        PlayerDetail player{stored, {}};
        for (int i = 0; i < 4; ++i) {
            const std::optional<Standings::Best> best = standings.best(i, stored);
            const std::optional<BoardRank> rank = standings.rank(i, stored);
            if (best && rank)
                player.boards.append({FirstBoard + i, best->score, best->at, *rank,
                                      isVerified(FirstBoard + i, stored, best->score), slice(i, rank->rank, neighbours), {}});
        }
        if (player.boards.isEmpty())
            continue;
        std::array<QList<HistoryPoint>, 4> points;
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
    if (index < 0 || index >= 4)
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
