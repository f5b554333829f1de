#include "session.h"
#include "startwindow.h"

#include "ui/windowstyle.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zimble"));
    QApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Zimble"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zimble.Zimble"));
    QApplication::setWindowIcon(zimble::ui::programIcon());

    zimble::Session session;
    zimble::StartWindow start(session);
    zimble::ui::placeOnScreen(&start);
    start.show();
    return app.exec();
}
