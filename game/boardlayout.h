#pragma once
// Board geometry in twips (1/1440 inch), independent of any toolkit.

#include "boardsize.h"

#include <cstdint>
#include <optional>

namespace zimble {

inline constexpr int TwipsPerPixel = 15;

// Edge length of every board button for an N x N board; empty for a size the game does not play.
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

} // namespace zimble
