#include "gamestate.h"

#include "boardlayout.h"
#include "scoring.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace zimble {

GameState::GameState()
{
    m_history.reserve(HitsToRemoveTile * TilePoolSize);
    m_clickCycles.reserve(HitsToRemoveTile * TilePoolSize);
}

void GameState::setBoardSize(int size)
{
    m_boardSize = std::clamp(size, MinBoardSize, MaxBoardSize);
}

int GameState::hitCount(int tile) const
{
    return tile >= 0 && tile < TilePoolSize ? m_hits[static_cast<std::size_t>(tile)] : 0;
}

bool GameState::isClickable(int tile) const
{
    return tile >= 0 && tile < tileCount() && m_hits[static_cast<std::size_t>(tile)] < HitsToRemoveTile;
}

int GameState::addHit(int tile)
{
    if (!isClickable(tile))
        return hitCount(tile);
    return ++m_hits[static_cast<std::size_t>(tile)];
}

FixedPoint GameState::recordClick(int tile)
{
    m_history.push_back(tile);
    m_clickCycles.push_back(m_clockCycles);
    m_cyclesAtLastClick = m_clockCycles;
    m_score = computeScore(m_history, m_boardSize, m_clockCycles);
    return m_score;
}

bool GameState::finishClick()
{
    ++m_clickCount;
    return m_clickCount == maxClicks();
}

void GameState::clear()
{
    m_history.clear();
    m_clickCycles.clear();
    m_hits.fill(0);
    m_clickCount = 0;
    m_clockCycles = 0;
    m_cyclesAtLastClick = 0;
}

int GameState::tileAfterMove(int from, TileMove move) const
{
    const int n = m_boardSize;
    const int count = tileCount();
    switch (move) {
    case TileMove::First:
        for (int t = 0; t < count; ++t) {
            if (isClickable(t))
                return t;
        }
        return -1;
    case TileMove::Last:
        for (int t = count - 1; t >= 0; --t) {
            if (isClickable(t))
                return t;
        }
        return -1;
    case TileMove::Next:
        for (int k = 1; k <= count; ++k) {
            const int t = ((from < 0 ? -1 : from) + k) % count;
            if (isClickable(t))
                return t;
        }
        return -1;
    case TileMove::Left:
    case TileMove::Right:
    case TileMove::Up:
    case TileMove::Down: break;
    }
    if (from < 0 || from >= count)
        return tileAfterMove(from, TileMove::First);
    const int row = from / n, column = from % n;
    const bool horizontal = move == TileMove::Left || move == TileMove::Right;
    const int sign = move == TileMove::Right || move == TileMove::Down ? 1 : -1;
    int best = from;
    std::tuple<int, int, int> bestKey{n, n, count};
    for (int t = 0; t < count; ++t) {
        if (t == from || !isClickable(t))
            continue;
        const int r = t / n, c = t % n;
        // Steps along the move, wrapping round the edge; 0 means beside `from`, not towards.
        const int along = (((horizontal ? c - column : r - row) * sign) % n + n) % n;
        if (along == 0)
            continue;
        const int across = std::abs(horizontal ? r - row : c - column);
        const std::tuple<int, int, int> key{across, along, t};
        if (key < bestKey) {
            bestKey = key;
            best = t;
        }
    }
    return best;
}

} // namespace zimble
