#include "leaderboards.h"

#include <algorithm>
#include <limits>
#include <tuple>

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
    // The first replay of a score stays the one shown for it.
    const std::pair<qint64, QString> key{qint64(r.board) << 40 | r.score, r.name};
    if (!m_verifiedKeys.contains(key))
        m_verifiedKeys.insert(key, r.id);
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

qint64 Leaderboards::replayOf(int board, const QString& name, qint64 score) const
{
    return score > 0 ? m_verifiedKeys.value({qint64(board) << 40 | score, name}, 0) : 0;
}

void Leaderboards::mark(int board, RankedEntry& e) const
{
    e.replay = replayOf(board, e.name, e.score);
    e.verified = e.replay != 0;
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
            mark(FirstBoard + i, e);
        for (RankedEntry& e : out.week[i])
            mark(FirstBoard + i, e);
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
        mark(out.board, e);
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

PlayerDetail Leaderboards::detail(const QString& stored, int neighbours) const
{
    PlayerDetail player{stored, {}};
    for (int i = 0; i < BoardSizeCount; ++i) {
        const std::optional<Standings::Best> best = counted().best(i, stored);
        const std::optional<BoardRank> rank = counted().rank(i, stored);
        if (best && rank) {
            const qint64 replay = replayOf(FirstBoard + i, stored, best->score);
            player.boards.append({FirstBoard + i, best->score, best->at, *rank, replay != 0, slice(i, rank->rank, neighbours), {}, replay});
        }
    }
    return player;
}

FoundPlayers Leaderboards::players(const QString& name, int neighbours, int limit) const
{
    // Every name folding alike is placed (a rank costs little); only the best placed are detailed.
    struct Candidate {
        qint64 place;
        qsizetype arrival;
    };
    const QStringList names = m_all.namesFolding(foldName(name));
    QList<Candidate> candidates;
    for (qsizetype n = 0; n < names.size(); ++n) {
        qint64 place = std::numeric_limits<qint64>::max();
        for (int i = 0; i < BoardSizeCount; ++i) {
            if (const std::optional<BoardRank> r = counted().rank(i, names[n]))
                place = std::min(place, r->rank);
        }
        if (place != std::numeric_limits<qint64>::max())
            candidates.append({place, n});
    }
    const qsizetype shown = std::clamp<qsizetype>(limit, 0, candidates.size());
    std::partial_sort(candidates.begin(), candidates.begin() + shown, candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.place, a.arrival) < std::tie(b.place, b.arrival);
    });
    FoundPlayers out;
    out.more = candidates.size() - shown;
    candidates.resize(shown);
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) { return a.arrival < b.arrival; });
    for (const Candidate& c : candidates)
        out.players.append(detail(names[c.arrival], neighbours));
    return out;
}

} // namespace zimble::server
