#include "replay.h"

#include "boardlayout.h"
#include "gamestate.h"
#include "scoring.h"

#include <array>
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
    case ReplayVerdict::ScoreMismatch: return "score mismatch";
    }
    return "unknown";
}

} // namespace zimble
