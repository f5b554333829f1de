#pragma once
// Board geometry in twips (1/1440 inch), independent of any toolkit.

#include <cstdint>
#include <optional>

namespace zimble {

inline constexpr int TwipsPerPixel = 15;
inline constexpr int BoardPoolSize = 49;
inline constexpr int MinBoardSize = 4;
inline constexpr int MaxBoardSize = 7;

// Edge length of every board button for an N x N board; empty outside 4..7.
std::optional<int> buttonEdge(std::int32_t boardSize);

struct TwipPoint {
    float left = 0;
    float top = 0;
};

struct LayoutFrame {
    double clientWidth = 0;  // client area of the playing field
    double clientHeight = 0;
    double ledTop = 0;       // score display
    double ledHeight = 0;
};

// Top-left corner of the button in row r, column c: the grid centred horizontally in the client
// width and vertically in the band below the score display. Half twips are kept.
TwipPoint buttonPosition(const LayoutFrame& frame, std::int32_t boardSize, int row, int column);

// Logical pixels for a twip coordinate: nearest pixel, an exact half going to the even one.
int twipsToPixels(double twips);

// One tick of the three-needle game clock. Needles: 1 fast (0..15), 0 middle (0..60), 2 slow (0..5).
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
    bool cycleCompleted = false; // the fast needle wrapped: TimeCount advances
};
ClockTick clockTick(const ClockNeedles& now);

} // namespace zimble
