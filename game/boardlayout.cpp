#include "boardlayout.h"

#include "fixedpoint.h"

namespace zimble {

std::optional<int> buttonEdge(std::int32_t boardSize)
{
    switch (boardSize) {
    case 4: return 1200;
    case 5: return 1110;
    case 6: return 1050;
    case 7: return 960;
    default: return std::nullopt;
    }
}

TwipPoint buttonPosition(const LayoutFrame& frame, std::int32_t boardSize, int row, int column)
{
    const double e = buttonEdge(boardSize).value_or(1200);
    const double N = boardSize;
    const double top = frame.ledTop + frame.ledHeight
        + (frame.clientHeight - frame.ledTop - frame.ledHeight - N * e) / 2 + row * e;
    const double left = (frame.clientWidth - N * e) / 2 + column * e;
    return {static_cast<float>(left), static_cast<float>(top)};
}

int twipsToPixels(double twips)
{
    return toInt32HalfEven(twips / TwipsPerPixel);
}

} // namespace zimble
