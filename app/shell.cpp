#include "shell.h"

namespace zimble {

QString gamePageAddress(const QString& host)
{
    return QStringLiteral("http://") + host + QStringLiteral("/zimble1.asp");
}

QString webPageFailureMessage(WebPageResult result)
{
    switch (result) {
    case WebPageResult::NoBrowser: return QStringLiteral("Could not find associated Browser");
    case WebPageResult::NotStarted: return QStringLiteral("Web Page not Opened");
    case WebPageResult::Opened: break;
    }
    return {};
}

} // namespace zimble
