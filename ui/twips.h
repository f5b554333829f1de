#pragma once
// Geometry in twips (1/1440 inch, 15 to a logical pixel at full size) for any widget.
// The exact twip rectangle, half twips included, is kept on the widget so that it reads back
// unchanged; the widget itself is placed on the nearest logical pixels. A window shown smaller
// than its design (see fitToScreen in windowstyle.h) maps every twip of its controls through
// one factor, its twip scale.

#include <QRectF>

class QWidget;

namespace zimble::ui {

void setTwipGeometry(QWidget* widget, double left, double top, double width, double height);
// The rectangle last set in twips, or the pixel geometry scaled up when none was set.
QRectF twipGeometry(const QWidget* widget);
// Twips to logical pixels (nearest, halves to even), at `scale` times the full size.
QRect twipsToPixelRect(const QRectF& twips, double scale = 1.0);

// The factor the window of `widget` maps twips with: 1 at full size, less when scaled down.
double twipScale(const QWidget* widget);
// Sets a window's factor and places every control that has a twip rectangle anew.
void setTwipScale(QWidget* window, double scale);

} // namespace zimble::ui
