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

// Opens an address in the program registered for HTML documents, started the way the desktop
// starts it (the entry's own arguments, the address passed exactly as given). Does not wait for
// the browser: a wrapper that fails within a few seconds is reported through onLateFailure.
WebPageResult openWebPage(const QString& address, QWidget* owner, std::function<void()> onLateFailure = {});

// What the player is told when opening a page failed: "Could not find associated Browser" or
// "Web Page not Opened".
QString webPageFailureMessage(WebPageResult result);

} // namespace zimble
