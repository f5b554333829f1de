#pragma once
// The service's log categories, for filtering with QT_LOGGING_RULES, for example
// QT_LOGGING_RULES="zimble.scored.http.info=false" to leave out the request log:
//   zimble.scored        start-up, stopping, refused replays;
//   zimble.scored.http   one line per request, and requests refused before they could be read;
//   zimble.scored.store  storage failures (declared in server/store/logging.h).

#include "server/store/logging.h"

#include <QLoggingCategory>

namespace zimble::server {

Q_DECLARE_LOGGING_CATEGORY(lcService)
Q_DECLARE_LOGGING_CATEGORY(lcHttp)

// Log lines carry only their message, as the service has always written them; QT_MESSAGE_PATTERN
// overrides this (for example to add %{category}).
void installLogPattern();

} // namespace zimble::server
