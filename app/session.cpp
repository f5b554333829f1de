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

namespace {

// A message box that opens centred on the window it belongs to: the owner's window once shown,
// else the nearest shown window below it (a window still being set up, such as a summary
// reporting its score file, has no place on the screen yet).
class OwnedMessageBox : public QMessageBox {
public:
    OwnedMessageBox(const QString& text, QWidget* owner)
        : QMessageBox(QMessageBox::NoIcon, ui::Title, text, QMessageBox::Ok, owner)
    {
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event); // sizes the box
        const QWidget* shown = parentWidget() ? parentWidget()->window() : nullptr;
        while (shown && !shown->isVisible())
            shown = shown->parentWidget() ? shown->parentWidget()->window() : nullptr;
        ui::placeOnScreen(this, shown);
    }
};

} // namespace

void Session::showMessage(QWidget* owner, const QString& text) const
{
    if (m_messageHandler) {
        m_messageHandler(owner, text);
        return;
    }
    OwnedMessageBox box(text, owner);
    box.setWindowIcon(ui::programIcon());
    // The player can select and copy what a message says, an address above all.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

void Session::openWebPage(const QString& address, QWidget* owner) const
{
    // The Part's message, why it failed, and the full address for the player to copy into a browser.
    auto failed = [address](WebPageResult result, const QString& reason) {
        return webPageFailureMessage(result) + QStringLiteral("\n\n") + reason + QStringLiteral("\n\n")
            + fullAddress(address);
    };
    const WebPageOutcome outcome =
        zimble::openWebPage(address, owner, [this, failed, window = QPointer<QWidget>(owner)](const QString& reason) {
            showMessage(window, failed(WebPageResult::NotStarted, reason));
        });
    if (outcome.result != WebPageResult::Opened)
        showMessage(owner, failed(outcome.result, outcome.reason));
}

} // namespace zimble
