#include "gamestate.h"

#include "boardlayout.h"
#include "scoring.h"

#include <algorithm>

namespace zimble {

GameState::GameState()
{
    m_history.reserve(HitsToRemoveTile * TilePoolSize);
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
    m_hits.fill(0);
    m_clickCount = 0;
    m_clockCycles = 0;
    m_cyclesAtLastClick = 0;
}

} // namespace zimble
