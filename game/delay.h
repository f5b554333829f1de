#pragma once
// The pause before each frame of a click's animation.

namespace zimble {

// Blocks the calling thread for at least `seconds` without handling any event; returns at once
// for a value not above zero.
void blockingDelay(float seconds);

} // namespace zimble
