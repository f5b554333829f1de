#pragma once
// The desktop services the windows use: the player's browser and the score service's page.

#include <QString>

#include <functional>

class QWidget;

namespace zimble {

// The game's page on a score service host: "http://" + host + "/zimble1.asp".
QString gamePageAddress(const QString& host);

enum class WebPageResult {
    Opened,
    NoBrowser,  // no program is registered for HTML documents
    NotStarted, // the registered program could not be started
};

// What became of opening a page, with the reason in words when it failed ("The browser "Firefox"
// could not be started: ...").
struct WebPageOutcome {
    WebPageResult result = WebPageResult::Opened;
    QString reason;
};

// Opens an address in the program registered for HTML documents, started the way the desktop
// starts it (the entry's own arguments, the address passed exactly as given). Does not wait for
// the browser: a wrapper that fails within a few seconds is reported through onLateFailure, with
// the reason.
WebPageOutcome openWebPage(const QString& address, QWidget* owner,
                           std::function<void(const QString& reason)> onLateFailure = {});

// The address as the player would type it into a browser: a bare host name gets "http://".
QString fullAddress(const QString& address);

// What the player is told when opening a page failed: "Could not find associated Browser" or
// "Web Page not Opened".
QString webPageFailureMessage(WebPageResult result);

} // namespace zimble
