#pragma once
// The storage's log category, zimble.scored.store: storage failures and reconnections.

#include <QLoggingCategory>

namespace zimble::server {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

} // namespace zimble::server
