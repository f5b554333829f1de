#pragma once
// Program-wide services of the windows: message boxes, the web page opener, fixed addresses.

#include <QString>

#include <functional>

class QWidget;

namespace zimble {

// Host (and port) of the score service and the product web page, fixed when the game is built.
QString scoreHost();
QString productPage();
// The game's page on a score service host: "http://" + host + "/zimble1.asp".
QString gamePageAddress(const QString& host);

// Tells the user something in a message box with an OK button and the game's title.
void showMessage(QWidget* owner, const QString& text);
// Tests replace the message box with a recorder; an empty function restores the box.
using MessageHook = std::function<void(QWidget* owner, const QString& text)>;
void setMessageHook(MessageHook hook);

// Opens an address in the browser registered for HTML documents, the address being its only argument.
// Failures are told to the user ("Could not find associated Browser", "Web Page not Opened").
void OpenWebPage(const QString& address, QWidget* owner);

} // namespace zimble
