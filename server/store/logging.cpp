#include "logging.h"

namespace zimble::server {

Q_LOGGING_CATEGORY(lcStore, "zimble.scored.store", QtInfoMsg)

} // namespace zimble::server
