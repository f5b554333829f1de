#pragma once
// The read-only JSON API: the records, the places around a player, and a player's standing.
// Rendering only; caching, limits and routing belong to the service.

#include "server/store/scorestore.h"

#include "game/gameclock.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace zimble::server {

// What every API answer is sent with: the page's cache life, readable from any origin.
QList<std::pair<QByteArray, QByteArray>> apiHeaders();
inline constexpr char ApiType[] = "application/json";
// One cycle of the game's clock: its fast needle's 16 ticks.
inline constexpr int CycleMs = 16 * ClockTickMs;
// The ZQ after each click of a stored replay when it is a legal game (verified, or only its
// ZQ differing from what was sent); empty otherwise.
std::vector<FixedPoint> replayScores(const StoredReplay& replay);

// {"boards": [{"size": 4, "records": [{"rank", "name", "zq", "date", "verified"}, ...]}, ...]}:
// the ten best of all time of every board (board 0), or of one board.
QByteArray recordsJson(const PageData& data, int board = 0);
// The same shape for one board's places around a player.
QByteArray aroundJson(const RankedSlice& slice);
// {"players": [{"name", "boards": [{"size", "zq", "date", "rank", "players", "verified",
// "around": [...], "history": [{"date", "zq"}, ...]}, ...]}, ...], "more": N}
QByteArray playersJson(const FoundPlayers& found);
// {"id", "size", "name", "verified", "reason", "pace": "as played" | "even", "cycles",
// "secondsPerCycle", "zq", "submission": {"id", "name", "zq", "date"} | null,
// "clicks": [{"row", "column", "tile", "cycles", "zq"}, ...]}: a stored replay, with `scores`
// the ZQ after each click (empty when the replay is no legal game; each "zq" is then null).
QByteArray replayJson(const StoredReplay& replay, const std::vector<FixedPoint>& scores);
// {"error": "..."}
QByteArray errorJson(const QString& message);

} // namespace zimble::server
