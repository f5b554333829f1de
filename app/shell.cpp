#include "shell.h"

#include "ui/forms.h"

#include <QMessageBox>

namespace zimble {

namespace {
MessageHook& messageHook()
{
    static MessageHook hook;
    return hook;
}
} // namespace

QString scoreHost()
{
    return QStringLiteral(ZIMBLE_SCORE_HOST);
}

QString productPage()
{
    return QStringLiteral(ZIMBLE_PRODUCT_PAGE);
}

QString gamePageAddress(const QString& host)
{
    return QStringLiteral("http://") + host + QStringLiteral("/zimble1.asp");
}

void showMessage(QWidget* owner, const QString& text)
{
    if (messageHook()) {
        messageHook()(owner, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ui::Title, text, QMessageBox::Ok, owner);
    box.setWindowIcon(ui::programIcon());
    box.exec();
}

void setMessageHook(MessageHook hook)
{
    messageHook() = std::move(hook);
}

} // namespace zimble
