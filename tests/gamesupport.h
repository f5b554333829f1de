#pragma once
// A game as the playing field records it, for tests that need a real replay.

#include "game/gamestate.h"

namespace zimble::test {

// A 4 x 4 game: every tile of the first `tiles` four times in a row, one clock cycle completed
// after the second tile.
inline GameState playedGame(int tiles = 5)
{
    GameState g;
    for (int tile = 0; tile < tiles; ++tile) {
        for (int k = 0; k < 4; ++k) {
            g.addHit(tile);
            g.recordClick(tile);
            g.finishClick();
        }
        if (tile == 1)
            g.addClockCycle();
    }
    return g;
}

} // namespace zimble::test
