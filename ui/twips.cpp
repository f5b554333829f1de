#include "twips.h"

#include "game/boardlayout.h"

#include <QWidget>

namespace zimble::ui {

namespace {
constexpr const char* TwipProperty = "zimbleTwipGeometry";
}

QRect twipsToPixelRect(const QRectF& t)
{
    // Map both edges, so that neighbouring buttons share their border exactly.
    const int left = twipsToPixels(t.left());
    const int top = twipsToPixels(t.top());
    const int right = twipsToPixels(t.left() + t.width());
    const int bottom = twipsToPixels(t.top() + t.height());
    return QRect(left, top, qMax(0, right - left), qMax(0, bottom - top));
}

void setTwipGeometry(QWidget* widget, double left, double top, double width, double height)
{
    const QRectF twips(left, top, width, height);
    widget->setProperty(TwipProperty, twips);
    widget->setGeometry(twipsToPixelRect(twips));
}

QRectF twipGeometry(const QWidget* widget)
{
    const QVariant stored = widget->property(TwipProperty);
    if (stored.isValid()) {
        const QRectF twips = stored.toRectF();
        // Trust the stored value only while the widget still stands where it put it.
        if (twipsToPixelRect(twips) == widget->geometry())
            return twips;
    }
    const QRect g = widget->geometry();
    return QRectF(g.x() * 15.0, g.y() * 15.0, g.width() * 15.0, g.height() * 15.0);
}

} // namespace zimble::ui
