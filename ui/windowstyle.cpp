#include "windowstyle.h"

#include "accessibility.h"
#include "twips.h"

#include "game/boardlayout.h"

#include <QApplication>
#include <QDialog>
#include <QWindow>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace zimble::ui {

namespace {
constexpr const char* DesignSizeProperty = "zimbleDesignTwips";
constexpr const char* DesignFontProperty = "zimbleDesignFont";

QSize designPixels(const QWidget* window)
{
    const QSizeF twips = clientTwips(window);
    return QSize(int(twips.width()) / TwipsPerPixel, int(twips.height()) / TwipsPerPixel);
}

// The frame the window manager puts around a window: known once the window or another top-level
// window of the program has been shown, none before (and none on the offscreen platform).
QMargins frameAround(const QWidget* window)
{
    if (window->windowHandle() && window->isVisible())
        return window->windowHandle()->frameMargins();
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() && other->windowHandle())
            return other->windowHandle()->frameMargins();
    }
    return {};
}
} // namespace

QSizeF clientTwips(const QWidget* window)
{
    const QVariant design = window->property(DesignSizeProperty);
    return design.isValid() ? design.toSizeF() : QSizeF(window->size()) * TwipsPerPixel;
}

void setupWindow(QWidget* window, int widthTwips, int heightTwips, const QColor& back)
{
    installAccessibility();
    window->setProperty(DesignSizeProperty, QSizeF(widthTwips, heightTwips));
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

double fitScale(const QRect& available, const QSize& client, const QMargins& frame)
{
    const double room[2] = {double(available.width() - frame.left() - frame.right()),
                            double(available.height() - frame.top() - frame.bottom())};
    double scale = 1.0;
    if (client.width() > room[0])
        scale = qMin(scale, room[0] / client.width());
    if (client.height() > room[1])
        scale = qMin(scale, room[1] / client.height());
    return qMax(scale, 0.1);
}

void fitToScreen(QWidget* window, const QRect& available)
{
    if (!window->property(DesignSizeProperty).isValid())
        return;
    const QSize design = designPixels(window);
    const double scale = fitScale(available, design, frameAround(window));
    if (qFuzzyCompare(scale, twipScale(window)))
        return;
    // Every font set on the window or a control shrinks with it, from its design size.
    const QList<QWidget*> children = window->findChildren<QWidget*>();
    QList<QWidget*> widgets{window};
    for (QWidget* w : children) {
        if (w->window() == window && w->testAttribute(Qt::WA_SetFont))
            widgets << w;
    }
    for (QWidget* w : widgets) {
        if (!w->property(DesignFontProperty).isValid())
            w->setProperty(DesignFontProperty, w->font());
        QFont f = w->property(DesignFontProperty).value<QFont>();
        if (f.pointSizeF() > 0)
            f.setPointSizeF(f.pointSizeF() * scale);
        else if (f.pixelSize() > 0)
            f.setPixelSize(qMax(1, qRound(f.pixelSize() * scale)));
        w->setFont(f);
    }
    const QSizeF twips = clientTwips(window);
    window->setFixedSize(twipsToPixelRect(QRectF(QPointF(0, 0), twips), scale).size());
    setTwipScale(window, scale);
}

void placeOnScreen(QWidget* window, const QWidget* owner)
{
    QScreen* screen = owner ? owner->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    fitToScreen(window, screen->availableGeometry());
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

QPixmap designPicture(const QString& file, const QSize& design)
{
    QPixmap picture(file);
    if (!picture.isNull() && design.width() > 0)
        picture.setDevicePixelRatio(qMax(1.0, double(picture.width()) / design.width()));
    return picture;
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
