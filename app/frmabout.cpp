#include "frmabout.h"

#include "shell.h"

#include "ui/forms.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

#include <QLabel>

namespace zimble {

using namespace ui;

QString frmAbout::copyrightText()
{
    return QStringLiteral("%1 %2 \u00A9 2026 Zimble developers. All rights reserved.")
        .arg(Title, QStringLiteral(ZIMBLE_VERSION));
}

QString frmAbout::supportAddress()
{
    return QStringLiteral("zq@zimble.example");
}

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    const QColor face = palette().color(QPalette::Button);
    setupWindow(this, 7125, 2475, face);

    auto panel = [&](QWidget* parent, const QString& caption) {
        auto* p = new ThreeDPanel(caption, parent);
        p->setFont(sansFont(8.25));
        p->setBackColor(face);
        p->setForeColor(Qt::black);
        return p;
    };

    auto* tour = pnltour.add(0, panel(this, QString()));
    place(tour, 0, 0, 7110, 2460);

    command1 = new ThreeDButton(QStringLiteral("E&xit"), tour);
    command1->setObjectName(QStringLiteral("command1"));
    command1->setFont(sansFont(8.25));
    command1->setPicture(QPixmap(QStringLiteral(":/pictures/button.jpg")));
    place(command1, 5235, 1740, 1200, 390);
    connect(command1, &QAbstractButton::clicked, this, &frmAbout::command1_Click);

    place(SSPanel1.add(0, panel(tour, productPage())), 315, 2025, 2325, 360);
    auto* support = SSPanel1.add(1, panel(tour, supportAddress()));
    QFont condensed = support->font();
    condensed.setStretch(QFont::SemiCondensed);
    support->setFont(condensed);
    place(support, 285, 1710, 1725, 360);

    // Drawn in front of the container.
    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(programIcon().pixmap(QSize(32, 32)));
    place(Picture1, 210, 105, 480, 480);
    Panel3D1 = panel(this, copyrightText());
    Panel3D1->setObjectName(QStringLiteral("Panel3D1"));
    place(Panel3D1, 201, 900, 6648, 360);
    Picture1->raise();
    Panel3D1->raise();

    command1->setFocus();
    Form_Load();
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + Title);
}

void frmAbout::command1_Click()
{
    done(QDialog::Accepted);
}

} // namespace zimble
