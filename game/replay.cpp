#include "replay.h"

#include "boardlayout.h"
#include "gamestate.h"
#include "scoring.h"

#include <algorithm>
#include <array>
#include <span>
#include <cmath>

namespace zimble {

namespace {

// The clock counts 16-tick cycles and never wraps; a count beyond a year of play is no game.
constexpr int MaxPlausibleCycles = int(365LL * 24 * 3600 * 1000 / (16 * 50));

} // namespace

FixedPoint GameReplay::score() const
{
    return computeScore(clicks, boardSize, clockCycles);
}

std::int32_t GameReplay::cyclesAtClick(std::size_t index) const
{
    if (index < clickCycles.size())
        return clickCycles[index];
    if (clicks.empty())
        return clockCycles;
    return std::int32_t(std::int64_t(clockCycles) * std::int64_t(index + 1) / std::int64_t(clicks.size()));
}

std::vector<FixedPoint> scoresAfterEachClick(const GameReplay& replay)
{
    std::vector<FixedPoint> scores;
    scores.reserve(replay.clicks.size());
    const std::span<const std::int32_t> all(replay.clicks);
    for (std::size_t i = 0; i < all.size(); ++i)
        scores.push_back(computeScore(all.first(i + 1), replay.boardSize, replay.cyclesAtClick(i)));
    return scores;
}

namespace {

// Per-click clocks are one per click, never negative, never decreasing, and end on the clock
// the replay's ZQ was scored with.
bool clickCyclesAreSound(const GameReplay& replay)
{
    if (!replay.hasClickCycles())
        return true;
    if (replay.clickCycles.size() != replay.clicks.size() || replay.clickCycles.front() < 0
        || replay.clickCycles.back() != replay.clockCycles)
        return false;
    return std::is_sorted(replay.clickCycles.begin(), replay.clickCycles.end());
}

} // namespace

ReplayVerdict verifyReplay(const GameReplay& replay, std::int64_t submittedWhole)
{
    if (replay.clicks.empty())
        return ReplayVerdict::NoClicks;
    if (!isBoardSize(replay.boardSize))
        return ReplayVerdict::BadBoardSize;
    const int tiles = replay.boardSize * replay.boardSize;
    if (replay.clicks.size() > std::size_t(HitsToRemoveTile * tiles))
        return ReplayVerdict::TooManyClicks;
    std::array<int, TilePoolSize> hits{};
    for (std::int32_t tile : replay.clicks) {
        if (tile < 0 || tile >= tiles)
            return ReplayVerdict::TileOffBoard;
        if (++hits[std::size_t(tile)] > HitsToRemoveTile)
            return ReplayVerdict::TileClickedTooOften;
    }
    // Ticks that fall due during a click's animation are dropped, and clicks queued meanwhile are
    // handled one after another, so a game may see no tick between its clicks: the clock gives
    // no lower bound beyond zero, only an upper one.
    if (replay.clockCycles < 0 || replay.clockCycles > MaxPlausibleCycles)
        return ReplayVerdict::ImplausibleClock;
    if (!clickCyclesAreSound(replay))
        return ReplayVerdict::BadClickCycles;
    if (toInt32HalfEven(replay.score().toDouble()) != submittedWhole)
        return ReplayVerdict::ScoreMismatch;
    return ReplayVerdict::Verified;
}

const char* replayVerdictText(ReplayVerdict verdict)
{
    switch (verdict) {
    case ReplayVerdict::Verified: return "verified";
    case ReplayVerdict::NoClicks: return "no clicks";
    case ReplayVerdict::BadBoardSize: return "bad board size";
    case ReplayVerdict::TileOffBoard: return "tile off the board";
    case ReplayVerdict::TileClickedTooOften: return "tile clicked too often";
    case ReplayVerdict::TooManyClicks: return "too many clicks";
    case ReplayVerdict::ImplausibleClock: return "implausible clock";
    case ReplayVerdict::BadClickCycles: return "clock at each click not as played";
    case ReplayVerdict::ScoreMismatch: return "score mismatch";
    }
    return "unknown";
}

} // namespace zimble
