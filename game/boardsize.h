#pragma once
// The board sizes the game plays: N x N boards from 4 x 4 to 7 x 7.

#include <cstdint>

namespace zimble {

inline constexpr int MinBoardSize = 4;
inline constexpr int MaxBoardSize = 7;
inline constexpr int BoardSizeCount = MaxBoardSize - MinBoardSize + 1;

constexpr bool isBoardSize(std::int64_t size)
{
    return size >= MinBoardSize && size <= MaxBoardSize;
}

} // namespace zimble
