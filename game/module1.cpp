#include "module1.h"

#include <chrono>
#include <thread>

namespace zimble::Module1 {

void clearGame()
{
    ClickHistory.fill(0);
    HitCount.fill(0);
    ClickCount = 0;
    TimeCount = 0;
    ClickTotal = 0;
}

void resetAll()
{
    clearGame();
    BoardSize = 0;
    Score = FixedPoint();
    DataDir.clear();
}

void Pause(const float& Seconds)
{
    // The animation must not let any event be handled while it waits, but a busy wait would
    // burn a whole core for 0.6 s per click. Sleeping until a deadline on the monotonic clock
    // handles no events, waits at least the requested time and is immune to clock changes.
    if (!(Seconds > 0.0f))
        return;
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(Seconds));
    std::this_thread::sleep_until(deadline);
}

} // namespace zimble::Module1
