#pragma once
// The desktop services the windows use: the player's browser and the score service's page.

#include <QString>

class QWidget;

namespace zimble {

// The game's page on a score service host: "http://" + host + "/zimble1.asp".
QString gamePageAddress(const QString& host);

enum class WebPageResult {
    Opened,
    NoBrowser,  // no program is registered for HTML documents
    NotStarted, // the registered program could not be started
};

// Opens an address in the program registered for HTML documents, the address passed exactly as
// given. Does not wait for the browser.
WebPageResult openWebPage(const QString& address, QWidget* owner);

// What the player is told when opening a page failed: "Could not find associated Browser" or
// "Web Page not Opened".
QString webPageFailureMessage(WebPageResult result);

} // namespace zimble
