#include "leaderboards.h"

#include <algorithm>

namespace zimble::server {

void Leaderboards::finishLoad(qint64 lastId)
{
    m_all.finishLoad();
    m_lastId = lastId;
}

bool Leaderboards::reachedBefore(const QDateTime& start, int index, const QString& name, qint64 score) const
{
    // Every Update sends all four bests: a score the name already had before the week began is
    // an old best sent again, not one of this week's.
    const std::optional<Standings::Best> best = m_all.best(index, name);
    return best && best->score >= score && best->at < start;
}

void Leaderboards::stored(const StoredSubmission& s)
{
    for (int i = 0; i < BoardSizeCount; ++i) {
        if (s.at >= m_weekStart && !reachedBefore(m_weekStart, i, s.name, s.scores[i]))
            m_week.offer(i, s.name, s.scores[i], s.id, s.at);
        m_all.offer(i, s.name, s.scores[i], s.id, s.at);
    }
    m_lastId = std::max(m_lastId, s.id);
}

void Leaderboards::verified(const VerifiedReplay& r)
{
    m_lastReplayId = std::max(m_lastReplayId, r.id);
    if (r.board < FirstBoard || r.board > LastBoard)
        return;
    const int index = r.board - FirstBoard;
    m_verified.offer(index, r.name, r.score, r.submission, r.at);
    if (r.at >= m_weekStart)
        m_weekVerified.offer(index, r.name, r.score, r.submission, r.at);
    m_verifiedKeys.insert({qint64(r.board) << 40 | r.score, r.name});
}

void Leaderboards::Week::stored(const StoredSubmission& s)
{
    if (s.at < m_start)
        return;
    for (int i = 0; i < BoardSizeCount; ++i) {
        if (!m_boards->reachedBefore(m_start, i, s.name, s.scores[i]))
            m_all.offer(i, s.name, s.scores[i], s.id, s.at);
    }
}

void Leaderboards::Week::verified(const VerifiedReplay& r)
{
    if (r.at >= m_start && r.board >= FirstBoard && r.board <= LastBoard)
        m_verified.offer(r.board - FirstBoard, r.name, r.score, r.submission, r.at);
}

void Leaderboards::turnWeek(Week&& week)
{
    m_weekStart = week.m_start;
    m_week = std::move(week.m_all);
    m_weekVerified = std::move(week.m_verified);
}

bool Leaderboards::isVerified(int board, const QString& name, qint64 score) const
{
    return score > 0 && m_verifiedKeys.contains({qint64(board) << 40 | score, name});
}

PageData Leaderboards::page(const WorldRecords& records) const
{
    PageData out;
    out.records = records;
    out.verifiedOnly = m_verifiedOnly;
    const TopTens& week = m_verifiedOnly ? m_weekVerified : m_week;
    for (int i = 0; i < BoardSizeCount; ++i) {
        out.best[i] = counted().top(i, TopTens::Count);
        out.week[i] = week.board(i);
        for (RankedEntry& e : out.best[i])
            e.verified = isVerified(FirstBoard + i, e.name, e.score);
        for (RankedEntry& e : out.week[i])
            e.verified = isVerified(FirstBoard + i, e.name, e.score);
    }
    return out;
}

QList<BoardRank> Leaderboards::ranks(const QString& name) const
{
    QList<BoardRank> out;
    for (int i = 0; i < BoardSizeCount; ++i) {
        if (const std::optional<BoardRank> r = counted().rank(i, name))
            out.append(*r);
    }
    return out;
}

RankedSlice Leaderboards::slice(int index, qint64 rank, int count) const
{
    RankedSlice out;
    out.board = FirstBoard + index;
    out.firstRank = std::max<qint64>(1, rank - count);
    out.entries = counted().ranked(index, out.firstRank, int(rank + count - out.firstRank + 1));
    for (RankedEntry& e : out.entries)
        e.verified = isVerified(out.board, e.name, e.score);
    return out;
}

std::optional<RankedSlice> Leaderboards::around(int board, const QString& name, int count) const
{
    const int index = board - FirstBoard;
    if (index < 0 || index >= BoardSizeCount)
        return std::nullopt;
    std::optional<BoardRank> found = counted().rank(index, name);
    if (!found) {
        for (const QString& stored : m_all.namesFolding(foldName(name))) {
            const std::optional<BoardRank> r = counted().rank(index, stored);
            if (r && (!found || r->rank < found->rank))
                found = r;
        }
    }
    if (!found)
        return std::nullopt;
    return slice(index, found->rank, count);
}

QList<PlayerDetail> Leaderboards::players(const QString& name, int neighbours) const
{
    QList<PlayerDetail> out;
    for (const QString& stored : m_all.namesFolding(foldName(name))) {
        PlayerDetail player{stored, {}};
        for (int i = 0; i < BoardSizeCount; ++i) {
            const std::optional<Standings::Best> best = counted().best(i, stored);
            const std::optional<BoardRank> rank = counted().rank(i, stored);
            if (best && rank)
                player.boards.append({FirstBoard + i, best->score, best->at, *rank,
                                      isVerified(FirstBoard + i, stored, best->score), slice(i, rank->rank, neighbours), {}});
        }
        if (!player.boards.isEmpty())
            out.append(player);
    }
    return out;
}

} // namespace zimble::server
