#pragma once
// The page that replays a verified game in the browser, and the files it loads from the service:
// its script and the board's three pictures. Rendering only; caching and routing belong to the
// service.

#include "server/store/scorestore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>
#include <vector>

namespace zimble::server {

// What the replay page is sent with: like the other pages, except that it may run the service's
// own script and show the service's own pictures.
QList<std::pair<QByteArray, QByteArray>> replayPageHeaders();

// The replay of a verified game: the board drawn by the script, the ZQ after each click on a
// seven-segment display and the game clock beside it, and below the same game as a plain list
// that needs no script. `scores` holds the ZQ after each click (replayScores).
QByteArray replayPage(const StoredReplay& replay, const std::vector<FixedPoint>& scores);
// The page for an id that names no verified game, or (`malformed`) no id at all.
QByteArray noReplayPage(bool malformed);

// A file served as it is, kept by browsers for a year: its address carries a version taken from
// its content, so a changed file has a new address.
struct StaticFile {
    QByteArray type;
    QByteArray body;
    QByteArray tag; // ETag, quoted
};
inline constexpr char StaticCacheControl[] = "public, max-age=31536000, immutable";
// "/replay.js", "/pictures/tessa1.jpg" to "/pictures/tessa3.jpg"; null for any other path.
const StaticFile* staticFile(const QByteArray& path);

} // namespace zimble::server
