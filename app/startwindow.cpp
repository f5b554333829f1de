#include "startwindow.h"

#include "aboutwindow.h"
#include "datadir.h"
#include "helpwindow.h"
#include "playingfield.h"
#include "session.h"
#include "texturedbutton.h"

#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/windowstyle.h"

#include <QApplication>
#include <QDir>
#include <QLabel>

namespace zimble {

using namespace ui;

StartWindow::StartWindow(Session& session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("startWindow"));
    setupWindow(this, 7185, 7380, Peach);
    buildControls();
    load();
}

QString StartWindow::goalText()
{
    return QStringLiteral("The Goal of ") + Title + QStringLiteral(" is simple. Get the highest ") + Title
        + QStringLiteral(" Quotient (ZQ) that you can. The tough part is figuring out the rules. You have to do "
                         "this on your own because there are no explanations.");
}

void StartWindow::buildControls()
{
    m_titlePicture = new QLabel(this);
    m_titlePicture->setObjectName(QStringLiteral("titlePicture"));
    m_titlePicture->setPixmap(designPicture(QStringLiteral(":/pictures/title.jpg"), QSize(414, 314)));
    m_titlePicture->setScaledContents(true);
    m_titlePicture->setAccessibleName(Title);
    place(m_titlePicture, 450, 60, 6210, 4710);

    m_goalPanel = new ThreeDPanel(this);
    m_goalPanel->setObjectName(QStringLiteral("goalPanel"));
    m_goalPanel->setFont(sansFont(8.25));
    m_goalPanel->setBackColor(Peach);
    m_goalPanel->setForeColor(palette().color(QPalette::ButtonText));
    place(m_goalPanel, 1155, 4950, 4785, 1005);

    // Created in tab order: Exit, Web Page, Enter, Help, About (picture and panel take no focus).
    m_exitButton = texturedButton(this, QStringLiteral("exitButton"), QStringLiteral("E&xit"), 5625, 6240, 1200, 390);
    m_webPageButton =
        texturedButton(this, QStringLiteral("webPageButton"), QStringLiteral("&Web Page"), 4290, 6240, 1200, 390);
    m_playButton = texturedButton(this, QStringLiteral("playButton"), QStringLiteral("&Enter the Playing Field"), 2310,
                                  6825, 2490, 390, true);
    m_helpButton = texturedButton(this, QStringLiteral("helpButton"), QStringLiteral("&Help"), 300, 6240, 1200, 390);
    m_aboutButton = texturedButton(this, QStringLiteral("aboutButton"), QStringLiteral("&About"), 1635, 6240, 1200, 390);

    connect(m_helpButton, &QAbstractButton::clicked, this, &StartWindow::onHelpClicked);
    connect(m_aboutButton, &QAbstractButton::clicked, this, &StartWindow::onAboutClicked);
    connect(m_webPageButton, &QAbstractButton::clicked, this, &StartWindow::onWebPageClicked);
    connect(m_exitButton, &QAbstractButton::clicked, this, &StartWindow::onExitClicked);
    connect(m_playButton, &QAbstractButton::clicked, this, &StartWindow::onPlayClicked);
}

void StartWindow::load()
{
    setWindowTitle(Title + QStringLiteral(" Startup"));
    m_goalPanel->setCaption(goalText());
    const DataDirChoice choice = developmentDataDir(QCoreApplication::applicationDirPath());
    if (!choice.prefix.isEmpty()) {
        m_session.setDataDir(choice.prefix);
        QDir::setCurrent(choice.directory);
    }
}

void StartWindow::onPlayClicked()
{
    PlayingField field(m_session, this);
    placeOnScreen(&field);
    field.exec();
}

void StartWindow::onExitClicked()
{
    // No file stays open between handlers, so there is nothing to close: end at once.
    QCoreApplication::exit(0);
    hide();
}

void StartWindow::onHelpClicked()
{
    {
        HelpWindow help(this);
        placeOnScreen(&help, this);
        help.exec();
    }
    m_helpButton->setVisible(false);
}

void StartWindow::onAboutClicked()
{
    AboutWindow about(m_session.productPage(), this);
    placeOnScreen(&about, this);
    about.exec();
}

void StartWindow::onWebPageClicked()
{
    m_session.openWebPage(m_session.productPage(), this);
}

void StartWindow::reject()
{
    m_exitButton->click();
}

} // namespace zimble
