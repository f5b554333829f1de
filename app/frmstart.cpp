#include "frmstart.h"

#include "datadir.h"
#include "frmabout.h"
#include "frmhelp.h"
#include "shell.h"

#include "game/frmgame.h"
#include "game/module1.h"
#include "ui/forms.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

#include <QApplication>
#include <QDir>
#include <QLabel>

namespace zimble {

using namespace ui;

namespace {

ThreeDButton* texturedButton(QWidget* parent, const QString& caption, bool wide = false)
{
    auto* b = new ThreeDButton(caption, parent);
    b->setFont(sansFont(8.25));
    b->setPicture(QPixmap(wide ? QStringLiteral(":/pictures/button-wide.jpg") : QStringLiteral(":/pictures/button.jpg")));
    return b;
}

} // namespace

frmStart::frmStart(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmStart"));
    setupWindow(this, 7185, 7380, Peach);
    buildControls();
    Form_Load();
}

QString frmStart::goalText()
{
    return QStringLiteral("The Goal of ") + Title + QStringLiteral(" is simple. Get the highest ") + Title
        + QStringLiteral(" Quotient (ZQ) that you can. The tough part is figuring out the rules. You have to do "
                         "this on your own because there are no explanations.");
}

void frmStart::buildControls()
{
    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(QPixmap(QStringLiteral(":/pictures/title.jpg")));
    Picture1->setScaledContents(true);
    place(Picture1, 450, 60, 6210, 4710);

    SSPanel1 = new ThreeDPanel(this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFont(sansFont(8.25));
    SSPanel1->setBackColor(Peach);
    SSPanel1->setForeColor(palette().color(QPalette::ButtonText));
    place(SSPanel1, 1155, 4950, 4785, 1005);

    // Created in tab order: Exit, Web Page, Enter, Help, About (picture and panel take no focus).
    place(cmdExit.add(0, texturedButton(this, QStringLiteral("E&xit"))), 5625, 6240, 1200, 390);
    place(cmdWeb.add(0, texturedButton(this, QStringLiteral("&Web Page"))), 4290, 6240, 1200, 390);
    cmdCustTray = texturedButton(this, QStringLiteral("&Enter the Playing Field"), true);
    cmdCustTray->setObjectName(QStringLiteral("cmdCustTray"));
    place(cmdCustTray, 2310, 6825, 2490, 390);
    place(cmdHelp.add(1, texturedButton(this, QStringLiteral("&Help"))), 300, 6240, 1200, 390);
    place(cmdAbout.add(0, texturedButton(this, QStringLiteral("&About"))), 1635, 6240, 1200, 390);

    connect(cmdHelp(1), &QAbstractButton::clicked, this, [this] { cmdHelp_Click(1); });
    connect(cmdAbout(0), &QAbstractButton::clicked, this, [this] { cmdAbout_Click(0); });
    connect(cmdWeb(0), &QAbstractButton::clicked, this, [this] { cmdWeb_Click(0); });
    connect(cmdExit(0), &QAbstractButton::clicked, this, [this] { cmdExit_Click(0); });
    connect(cmdCustTray, &QAbstractButton::clicked, this, &frmStart::cmdCustTray_Click);
}

void frmStart::Form_Load()
{
    setWindowTitle(Title + QStringLiteral(" Startup"));
    SSPanel1->setCaption(goalText());
    const DataDirChoice choice = developmentDataDir(QCoreApplication::applicationDirPath());
    if (!choice.prefix.isEmpty()) {
        Module1::DataDir = choice.prefix.toStdString();
        QDir::setCurrent(choice.directory);
    }
}

void frmStart::cmdCustTray_Click()
{
    frmGame game(this);
    centreOnScreen(&game);
    game.exec();
}

void frmStart::cmdExit_Click(qint16)
{
    // No file stays open between handlers, so there is nothing to close: end at once.
    QCoreApplication::exit(0);
    hide();
}

void frmStart::cmdHelp_Click(qint16)
{
    {
        frmHelp help(this);
        help.exec();
    }
    cmdHelp(1)->setVisible(false);
}

void frmStart::cmdAbout_Click(qint16)
{
    frmAbout about(this);
    about.exec();
}

void frmStart::cmdWeb_Click(qint16)
{
    OpenWebPage(productPage(), this);
}

void frmStart::reject()
{
    cmdExit(0)->click();
}

} // namespace zimble
