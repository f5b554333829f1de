#pragma once
// The service's HTML pages: the records page and one player's page, rendered from what the store
// hands over. Rendering only; caching and routing belong to the service.

#include "server/store/scorestore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace zimble::server {

// What every HTML page is sent with: a short cache life, no type sniffing, no scripts.
QList<std::pair<QByteArray, QByteArray>> pageHeaders();

// The game's page: world records and the ten best players of each board, of all time and of
// this week, verified ones marked; HTML-escaped once.
QByteArray recordsPage(const PageData& data);

// One player's page: the player's best on each board, its rank and whether it is verified.
QByteArray playerPage(const QString& name, const QList<PlayerBoard>& boards, bool verifiedOnly);

// "1st", "2nd", "3rd", "4th", "11th", "21st", "1,234th".
QString ordinal(qint64 n);

} // namespace zimble::server
