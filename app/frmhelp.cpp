#include "frmhelp.h"

#include "ui/forms.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

namespace zimble {

using namespace ui;

frmHelp::frmHelp(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmHelp"));
    setupWindow(this, 4680, 3090, Apricot);

    SSPanel1 = new ThreeDPanel(
        QStringLiteral("There is no Help. You are on your own. The Help button will now be removed."), this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFont(sansFont(8.25));
    SSPanel1->setBackColor(Peach);
    SSPanel1->setForeColor(palette().color(QPalette::ButtonText));
    place(SSPanel1, 930, 750, 2745, 1455);

    auto* exit = cmdExit.add(0, new ThreeDButton(QStringLiteral("E&xit"), this));
    exit->setFont(sansFont(8.25));
    exit->setPicture(QPixmap(QStringLiteral(":/pictures/button.jpg")));
    place(exit, 3225, 2490, 1200, 390);
    connect(exit, &QAbstractButton::clicked, this, [this] { cmdExit_Click(0); });
    exit->setFocus();

    Form_Load();
}

void frmHelp::Form_Load()
{
    setWindowTitle(Title + QStringLiteral(" Help"));
}

void frmHelp::cmdExit_Click(qint16)
{
    done(QDialog::Accepted);
}

} // namespace zimble
