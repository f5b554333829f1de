#pragma once
// The read-only JSON API: the records, the places around a player, and a player's standing.
// Rendering only; caching, limits and routing belong to the service.

#include "server/store/scorestore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace zimble::server {

// What every API answer is sent with: the page's cache life, readable from any origin.
QList<std::pair<QByteArray, QByteArray>> apiHeaders();
inline constexpr char ApiType[] = "application/json";

// {"boards": [{"size": 4, "records": [{"rank", "name", "zq", "date", "verified"}, ...]}, ...]}:
// the ten best of all time of every board (board 0), or of one board.
QByteArray recordsJson(const PageData& data, int board = 0);
// The same shape for one board's places around a player.
QByteArray aroundJson(const RankedSlice& slice);
// {"players": [{"name", "boards": [{"size", "zq", "date", "rank", "players", "verified",
// "around": [...], "history": [{"date", "zq"}, ...]}, ...]}, ...], "more": N}
QByteArray playersJson(const FoundPlayers& found);
// {"error": "..."}
QByteArray errorJson(const QString& message);

} // namespace zimble::server
