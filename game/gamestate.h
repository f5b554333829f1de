#pragma once
// One game in progress: board size, the clicks each tile has taken, the click history, the
// clock's completed cycles and the current ZQ.

#include "boardsize.h"
#include "fixedpoint.h"
#include "replay.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zimble {

inline constexpr int TilePoolSize = MaxBoardSize * MaxBoardSize; // enough for the largest board
inline constexpr int HitsToRemoveTile = 4;

// The moves of the keyboard focus between tiles.
enum class TileMove { Left, Right, Up, Down, First, Last, Next };

class GameState {
public:
    GameState();

    int boardSize() const { return m_boardSize; }
    // Sizes outside the playable range are brought into it.
    void setBoardSize(int size);
    int tileCount() const { return m_boardSize * m_boardSize; }
    // Clicks of a complete game: every tile four times.
    int maxClicks() const { return HitsToRemoveTile * tileCount(); }

    int hitCount(int tile) const;
    // Whether a tile is on the board and can still be clicked.
    bool isClickable(int tile) const;
    // The clickable tile a move leads to from `from`. Left, Right, Up and Down go to the nearest
    // clickable tile in that direction, wrapping round the board's edge: on the same row (or
    // column) if there is one, else on the nearest row (column) beside it, the upper (left) one on
    // a tie; `from` itself when there is none. First and Last are the first and last clickable tiles in reading order,
    // Next the one after `from` in reading order, wrapping. -1 when no tile is clickable.
    int tileAfterMove(int from, TileMove move) const;
    // Counts a click against a tile; returns its new hit count (1 to 4).
    int addHit(int tile);

    // Appends a click to the history and recomputes the score from the whole history.
    FixedPoint recordClick(int tile);
    // Completes the handling of a click; true when the game is now complete.
    bool finishClick();

    const std::vector<std::int32_t>& history() const { return m_history; }
    // Clicks whose handling has completed; 0 means the game has not started.
    int clickCount() const { return m_clickCount; }
    bool hasStarted() const { return m_clickCount > 0; }

    // Completed 16-tick cycles of the game clock since the game started, and when the last
    // click was scored.
    int clockCycles() const { return m_clockCycles; }
    int clockCyclesAtLastClick() const { return m_cyclesAtLastClick; }
    void addClockCycle() { ++m_clockCycles; }

    FixedPoint score() const { return m_score; }
    // This game so far as a replay: its ZQ follows from it alone.
    GameReplay replay() const { return {m_boardSize, m_cyclesAtLastClick, m_history, m_clickCycles}; }

    // Back to the start of a game: counts, history and clock cleared; board size and the last
    // score are kept.
    void clear();

private:
    int m_boardSize = MinBoardSize;
    std::array<int, TilePoolSize> m_hits{};
    std::vector<std::int32_t> m_history;
    std::vector<std::int32_t> m_clickCycles; // the clock when each click of m_history was scored
    int m_clickCount = 0;
    int m_clockCycles = 0;
    int m_cyclesAtLastClick = 0;
    FixedPoint m_score;
};

} // namespace zimble
