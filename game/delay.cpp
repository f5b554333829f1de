#include "delay.h"

#include <chrono>
#include <thread>

namespace zimble {

void blockingDelay(float seconds)
{
    // The animation must not let any event be handled while it waits, but a busy wait would
    // burn a whole core for 0.6 s per click. Sleeping until a deadline on the monotonic clock
    // handles no events, waits at least the requested time and is immune to clock changes.
    if (!(seconds > 0.0f))
        return;
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    std::this_thread::sleep_until(deadline);
}

} // namespace zimble
