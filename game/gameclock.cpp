#include "gameclock.h"

#include "fixedpoint.h"

namespace zimble {

ClockTick clockTick(const ClockNeedles& now)
{
    ClockTick t;
    t.fast = toInt32HalfEven(now.fast) + 1;
    if (t.fast > 15) {
        t.fast = 0;
        t.cycleCompleted = true;
        t.middle = toInt32HalfEven(now.middle) + 1;
        t.middleWritten = true;
        if (t.middle > 60) {
            t.middle = 0;
            t.slow = toInt32HalfEven(now.slow) + 1;
            if (t.slow > 5)
                t.slow = 0;
            t.slowWritten = true;
        }
    }
    return t;
}

} // namespace zimble
