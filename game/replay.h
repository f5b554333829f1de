#pragma once
// A game's replay: everything its ZQ follows from. The score service replays a submitted game
// with the same scoring code to tell a real game from a forged number.

#include "boardsize.h"
#include "fixedpoint.h"

#include <cstdint>
#include <vector>

namespace zimble {

struct GameReplay {
    int boardSize = 0;
    // Completed clock cycles when the last click was scored.
    int clockCycles = 0;
    // Tile indices in click order.
    std::vector<std::int32_t> clicks;
    // Completed clock cycles when each click was scored, one per click; empty for a replay kept
    // before the game recorded them, whose earlier clicks are then taken as evenly paced.
    std::vector<std::int32_t> clickCycles;

    // The ZQ the game showed after its last click.
    FixedPoint score() const;
    // Whether each click carries its own clock.
    bool hasClickCycles() const { return !clickCycles.empty(); }
    // The clock at click `index` (0-based): as recorded, or, without per-click clocks, the last
    // clock spread evenly over the clicks (exact at the last click).
    std::int32_t cyclesAtClick(std::size_t index) const;
};

// The ZQ after each click of a replay, as the game computes it: element k after click k + 1.
std::vector<FixedPoint> scoresAfterEachClick(const GameReplay& replay);

enum class ReplayVerdict {
    Verified,
    NoClicks,            // nothing to replay
    BadBoardSize,        // not a board size the game plays
    TileOffBoard,        // an index outside the board
    TileClickedTooOften, // a tile clicked a fifth time
    TooManyClicks,       // more than four clicks per tile
    ImplausibleClock,    // a clock cycle count no game can reach
    BadClickCycles,      // per-click clocks that are not one per click, decrease, or end off the clock
    ScoreMismatch,       // the replay does not give the submitted ZQ
};

// Checks that a replay is a legal game whose ZQ, made a whole number (halves to even), is
// `submittedWhole`.
ReplayVerdict verifyReplay(const GameReplay& replay, std::int64_t submittedWhole);

// A short English phrase for a verdict, for logs and metrics ("tile clicked too often").
const char* replayVerdictText(ReplayVerdict verdict);

} // namespace zimble
