#include "windowstyle.h"

#include "twips.h"

#include <QDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace zimble::ui {

void setupWindow(QWidget* window, int widthTwips, int heightTwips, const QColor& back)
{
    window->setFixedSize(QSize(widthTwips / 15, heightTwips / 15));
    if (back.isValid()) {
        QPalette pal = window->palette();
        pal.setColor(QPalette::Window, back);
        window->setPalette(pal);
        window->setAutoFillBackground(true);
    }
    window->setWindowIcon(programIcon());
}

QPoint windowPosition(const QRect& available, const QSize& frame, std::optional<QPoint> centre)
{
    const QPoint c = centre.value_or(available.center());
    auto along = [](int start, int length, int size, int middle) {
        if (size > length)
            return start;
        return qBound(start, middle - size / 2, start + length - size);
    };
    return {along(available.left(), available.width(), frame.width(), c.x()),
            along(available.top(), available.height(), frame.height(), c.y())};
}

void placeOnScreen(QWidget* window, const QWidget* owner)
{
    QScreen* screen = owner ? owner->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    std::optional<QPoint> centre;
    if (owner)
        centre = owner->frameGeometry().center();
    window->move(windowPosition(screen->availableGeometry(), window->frameGeometry().size(), centre));
}

void place(QWidget* control, double left, double top, double width, double height)
{
    setTwipGeometry(control, left, top, width, height);
}

QFont sansFont(double pointSize, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

QFont arialFont(double pointSize, bool bold)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

QIcon programIcon()
{
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 22, 32, 48, 64, 128, 256})
            i.addFile(QStringLiteral(":/icons/zimble-%1.png").arg(size), QSize(size, size));
        return i;
    }();
    return icon;
}

} // namespace zimble::ui
