#include "frmstart.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zimble"));
    QApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Zimble"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zimble.Zimble"));

    zimble::frmStart start;
    start.show();
    return app.exec();
}
