#pragma once
// Click-pattern analysis: turns a game's click history into its ZQ.

#include "fixedpoint.h"

#include <cstdint>
#include <span>

namespace zimble {

// history holds H(1..n), the current click last (so the count of earlier clicks c is n - 1);
// boardSize is N (4..7) and timeCount the completed 16-tick cycles of the game clock.
// Returns the score after the scale-down and the floor at c.
FixedPoint computeScore(std::span<const std::int32_t> history, std::int32_t boardSize, std::int32_t timeCount);

} // namespace zimble
