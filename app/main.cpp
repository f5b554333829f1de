#include "frmstart.h"

#include "ui/forms.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zimble"));
    QApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Zimble"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zimble.Zimble"));
    QApplication::setWindowIcon(zimble::ui::programIcon());

    zimble::frmStart start;
    zimble::ui::centreOnScreen(&start);
    start.show();
    return app.exec();
}
