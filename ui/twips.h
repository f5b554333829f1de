#pragma once
// Geometry in twips (1/1440 inch, 15 to a logical pixel) for any widget.
// The exact twip rectangle, half twips included, is kept on the widget so that it reads back
// unchanged; the widget itself is placed on the nearest logical pixels.

#include <QRectF>

class QWidget;

namespace zimble::ui {

void setTwipGeometry(QWidget* widget, double left, double top, double width, double height);
// The rectangle last set in twips, or the pixel geometry scaled up when none was set.
QRectF twipGeometry(const QWidget* widget);
// Twips to logical pixels (nearest, halves to even).
QRect twipsToPixelRect(const QRectF& twips);

} // namespace zimble::ui
