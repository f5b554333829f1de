#include "twips.h"

#include "game/boardlayout.h"

#include <QWidget>

namespace zimble::ui {

namespace {
constexpr const char* TwipProperty = "zimbleTwipGeometry";
constexpr const char* ScaleProperty = "zimbleTwipScale";
} // namespace

QRect twipsToPixelRect(const QRectF& t, double scale)
{
    // Map both edges, so that neighbouring buttons share their border exactly.
    const int left = twipsToPixels(t.left() * scale);
    const int top = twipsToPixels(t.top() * scale);
    const int right = twipsToPixels((t.left() + t.width()) * scale);
    const int bottom = twipsToPixels((t.top() + t.height()) * scale);
    return QRect(left, top, qMax(0, right - left), qMax(0, bottom - top));
}

double twipScale(const QWidget* widget)
{
    const QVariant scale = widget->window()->property(ScaleProperty);
    return scale.isValid() ? scale.toDouble() : 1.0;
}

void setTwipGeometry(QWidget* widget, double left, double top, double width, double height)
{
    const QRectF twips(left, top, width, height);
    widget->setProperty(TwipProperty, twips);
    widget->setGeometry(twipsToPixelRect(twips, twipScale(widget)));
}

QRectF twipGeometry(const QWidget* widget)
{
    const double scale = twipScale(widget);
    const QVariant stored = widget->property(TwipProperty);
    if (stored.isValid()) {
        const QRectF twips = stored.toRectF();
        // Trust the stored value only while the widget still stands where it put it.
        if (twipsToPixelRect(twips, scale) == widget->geometry())
            return twips;
    }
    const QRect g = widget->geometry();
    const double k = TwipsPerPixel / scale;
    return QRectF(g.x() * k, g.y() * k, g.width() * k, g.height() * k);
}

void setTwipScale(QWidget* window, double scale)
{
    window->setProperty(ScaleProperty, scale);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        const QVariant stored = child->property(TwipProperty);
        if (stored.isValid() && child->window() == window)
            child->setGeometry(twipsToPixelRect(stored.toRectF(), scale));
    }
}

} // namespace zimble::ui
