#include "aboutwindow.h"

#include "texturedbutton.h"

#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/windowstyle.h"

#include <QLabel>

namespace zimble {

using namespace ui;

QString AboutWindow::copyrightText()
{
    return QStringLiteral("%1 %2 \u00A9 2026 Zimble developers. All rights reserved.")
        .arg(Title, QStringLiteral(ZIMBLE_VERSION));
}

QString AboutWindow::supportAddress()
{
    return QStringLiteral("zq@zimble.example");
}

AboutWindow::AboutWindow(const QString& productPage, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutWindow"));
    const QColor face = palette().color(QPalette::Button);
    setupWindow(this, 7125, 2475, face);
    setWindowTitle(QStringLiteral("About ") + Title);

    auto panel = [&](QWidget* parent, const QString& name, const QString& caption) {
        auto* p = new ThreeDPanel(caption, parent);
        p->setObjectName(name);
        p->setFont(sansFont(8.25));
        p->setBackColor(face);
        p->setForeColor(Qt::black);
        return p;
    };

    m_container = panel(this, QStringLiteral("container"), QString());
    place(m_container, 0, 0, 7110, 2460);

    m_exitButton =
        texturedButton(m_container, QStringLiteral("exitButton"), QStringLiteral("E&xit"), 5235, 1740, 1200, 390);
    connect(m_exitButton, &QAbstractButton::clicked, this, &QDialog::accept);

    // The two addresses one above the other, as wide as each other, with a gap between them, so
    // that neither panel covers the other and each address has room inside its border.
    m_support = panel(m_container, QStringLiteral("supportPanel"), supportAddress());
    place(m_support, 315, 1530, 2325, 360);
    m_webAddress = panel(m_container, QStringLiteral("webAddressPanel"), productPage);
    place(m_webAddress, 315, 1980, 2325, 360);

    // Drawn in front of the container.
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("iconPicture"));
    m_icon->setAccessibleName(Title + QStringLiteral(" icon"));
    m_icon->setPixmap(programIcon().pixmap(QSize(32, 32)));
    place(m_icon, 210, 105, 480, 480);
    m_copyright = panel(this, QStringLiteral("copyrightPanel"), copyrightText());
    place(m_copyright, 201, 900, 6648, 360);
    m_icon->raise();
    m_copyright->raise();

    m_exitButton->setFocus();
}

} // namespace zimble
