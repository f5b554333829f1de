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

    // The ZQ the game showed after its last click.
    FixedPoint score() const;
};

enum class ReplayVerdict {
    Verified,
    NoClicks,            // nothing to replay
    BadBoardSize,        // not a board size the game plays
    TileOffBoard,        // an index outside the board
    TileClickedTooOften, // a tile clicked a fifth time
    TooManyClicks,       // more than four clicks per tile
    ImplausibleClock,    // a clock cycle count no game can reach
    ScoreMismatch,       // the replay does not give the submitted ZQ
};

// Checks that a replay is a legal game whose ZQ, made a whole number (halves to even), is
// `submittedWhole`.
ReplayVerdict verifyReplay(const GameReplay& replay, std::int64_t submittedWhole);

// A short English phrase for a verdict, for logs and metrics ("tile clicked too often").
const char* replayVerdictText(ReplayVerdict verdict);

} // namespace zimble
