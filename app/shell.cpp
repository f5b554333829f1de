#include "shell.h"

#include <QUrl>

namespace zimble {

QString gamePageAddress(const QString& host)
{
    return QStringLiteral("http://") + host + QStringLiteral("/zimble1.asp");
}

QString fullAddress(const QString& address)
{
    const QUrl url = QUrl::fromUserInput(address);
    return url.isValid() ? url.toString() : address;
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
