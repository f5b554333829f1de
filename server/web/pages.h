#pragma once
// The service's HTML pages: the records page and the player's page, rendered from what the store
// hands over. Rendering only; caching and routing belong to the service.

#include "server/store/scorestore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace zimble::server {

// How long browsers and proxies may keep a page or an API answer.
inline constexpr int PageMaxAgeSeconds = 10;

// What every HTML page is sent with: a short cache life, no type sniffing, no scripts.
QList<std::pair<QByteArray, QByteArray>> pageHeaders();

// The game's page: world records and the ten best players of each board, of all time and of
// this week, verified ones marked, every name linked to its player's page; HTML-escaped once.
QByteArray recordsPage(const PageData& data);

// The player's page for a looked-up name: each stored name that folds like it, with its best on
// each board, its rank, the places around it and the history of its scores as a chart.
QByteArray playerPage(const QString& name, const FoundPlayers& found, bool verifiedOnly);

// The address of a name's player page.
QString playerLink(const QString& name);
// The address of a replay's page.
QString replayLink(qint64 replay);
// The style sheet the pages share.
QByteArray pageStyleSheet();

// "1st", "2nd", "3rd", "4th", "11th", "21st", "1,234th".
QString ordinal(qint64 n);

} // namespace zimble::server
