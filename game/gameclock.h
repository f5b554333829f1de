#pragma once
// The three-needle game clock: a 50 ms tick advances the fast needle; its wraps count the game's
// clock cycles, and the middle and slow needles count those wraps in turn.

#include <cstdint>

namespace zimble {

inline constexpr int ClockTickMs = 50;
inline constexpr int ClockNeedleCount = 3;
// The needles by number: 0 middle (0..60), 1 fast (0..15), 2 slow (0..5).
inline constexpr int MiddleNeedle = 0;
inline constexpr int FastNeedle = 1;
inline constexpr int SlowNeedle = 2;

// The needles as read before a tick, and what the tick writes back.
struct ClockNeedles {
    double middle = 0; // needle 0
    double fast = 0;   // needle 1
    double slow = 0;   // needle 2
};
struct ClockTick {
    std::int32_t middle = 0;
    std::int32_t fast = 0;
    std::int32_t slow = 0;
    bool middleWritten = false; // the middle needle (and possibly the slow one) moved
    bool slowWritten = false;
    bool cycleCompleted = false; // the fast needle wrapped: one more clock cycle
};
ClockTick clockTick(const ClockNeedles& now);

} // namespace zimble
