#include "logging.h"

namespace zimble::server {

Q_LOGGING_CATEGORY(lcService, "zimble.scored", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHttp, "zimble.scored.http", QtInfoMsg)

void installLogPattern()
{
    qSetMessagePattern(QStringLiteral("%{message}"));
}

} // namespace zimble::server
