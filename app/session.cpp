#include "session.h"

#include "shell.h"

#include "ui/windowstyle.h"

#include <QMessageBox>
#include <QPointer>

namespace zimble {

Session::Session()
    : m_scoreHost(QStringLiteral(ZIMBLE_SCORE_HOST))
    , m_productPage(QStringLiteral(ZIMBLE_PRODUCT_PAGE))
{
}

QString Session::scoreFileName() const
{
    return m_dataDir + QStringLiteral("Scores.dat");
}

QString Session::replayFileName() const
{
    return m_dataDir + QStringLiteral("Replays.dat");
}

QString Session::pictureFileName(int hits) const
{
    return m_dataDir + QStringLiteral("tessa") + QString::number(hits) + QStringLiteral(".jpg");
}

void Session::showMessage(QWidget* owner, const QString& text) const
{
    if (m_messageHandler) {
        m_messageHandler(owner, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ui::Title, text, QMessageBox::Ok, owner);
    box.setWindowIcon(ui::programIcon());
    box.exec();
}

void Session::openWebPage(const QString& address, QWidget* owner) const
{
    const WebPageResult result = zimble::openWebPage(address, owner, [this, window = QPointer<QWidget>(owner)] {
        showMessage(window, webPageFailureMessage(WebPageResult::NotStarted));
    });
    if (result != WebPageResult::Opened)
        showMessage(owner, webPageFailureMessage(result));
}

} // namespace zimble
