#include "bevel.h"

#include <QPainter>
#include <QPolygonF>

namespace zimble::ui {

void drawBevel(QPainter& painter, const QRect& rect, int width, bool raised, const QColor& face)
{
    if (width <= 0 || rect.isEmpty())
        return;
    // Dark faces get fixed greys, since lighter() of black is still black.
    const bool darkFace = face.lightness() < 40;
    const QColor light = darkFace ? QColor(112, 116, 128) : face.lightness() > 200 ? QColor(255, 255, 255) : face.lighter(170);
    const QColor dark = darkFace ? QColor(40, 42, 48) : face.darker(250);
    const QColor hi = raised ? light : dark;
    const QColor lo = raised ? dark : light;
    const QRectF r(rect);
    const qreal w = qMin<qreal>(width, qMin(r.width(), r.height()) / 2);

    painter.save();
    painter.setPen(Qt::NoPen);
    // Top and left edges as one polygon, bottom and right as another, mitred at the corners.
    painter.setBrush(hi);
    painter.drawPolygon(QPolygonF({r.topLeft(), r.topRight(), QPointF(r.right() - w, r.top() + w),
                                   QPointF(r.left() + w, r.top() + w), QPointF(r.left() + w, r.bottom() - w),
                                   r.bottomLeft()}));
    painter.setBrush(lo);
    painter.drawPolygon(QPolygonF({r.bottomRight(), r.bottomLeft(), QPointF(r.left() + w, r.bottom() - w),
                                   QPointF(r.right() - w, r.bottom() - w), QPointF(r.right() - w, r.top() + w),
                                   r.topRight()}));
    painter.restore();
}

} // namespace zimble::ui
