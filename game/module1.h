#pragma once
// Program-wide game state shared by the windows, plus the animation delay.

#include "fixedpoint.h"

#include <array>
#include <cstdint>
#include <string>

namespace zimble::Module1 {

inline std::int32_t BoardSize = 0;                     // N: the board is N x N buttons (4..7)
inline std::array<std::int32_t, 50> HitCount{};        // clicks per button this game, by BB index
inline std::array<std::int32_t, 20001> ClickHistory{}; // BB indices in click order, from index 1
inline std::int32_t ClickTotal = 0;                    // entries used in ClickHistory
inline std::int32_t ClickCount = 0;                    // clicks fully handled this game; 0 = not started
inline std::int32_t TimeCount = 0;                     // completed 16-tick cycles of the game timer
inline FixedPoint Score;                               // current ZQ
inline std::string DataDir;                            // prefix of picture and score file names (UTF-8)

// Number of clicks of a complete game on the current board.
inline std::int32_t MaxClicks() { return 4 * BoardSize * BoardSize; }

// Clears the per-game counters and arrays (not BoardSize, Score or DataDir).
void clearGame();

// Every variable back to its program-start value.
void resetAll();

// Blocks the calling thread for at least Seconds seconds without handling any event.
void Pause(const float& Seconds);

} // namespace zimble::Module1
