#include "helpwindow.h"

#include "texturedbutton.h"

#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/windowstyle.h"

namespace zimble {

using namespace ui;

HelpWindow::HelpWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("helpWindow"));
    setupWindow(this, 4680, 3090, Apricot);
    setWindowTitle(Title + QStringLiteral(" Help"));

    m_message = new ThreeDPanel(
        QStringLiteral("There is no Help. You are on your own. The Help button will now be removed."), this);
    m_message->setObjectName(QStringLiteral("messagePanel"));
    m_message->setFont(sansFont(8.25));
    m_message->setBackColor(Peach);
    m_message->setForeColor(palette().color(QPalette::ButtonText));
    place(m_message, 930, 750, 2745, 1455);

    m_exitButton = texturedButton(this, QStringLiteral("exitButton"), QStringLiteral("E&xit"), 3225, 2490, 1200, 390);
    connect(m_exitButton, &QAbstractButton::clicked, this, &QDialog::accept);
    m_exitButton->setFocus();
}

} // namespace zimble
