#pragma once
// Shared drawing of raised and sunken 3-D bevels.

#include <QColor>
#include <QRect>

class QPainter;

namespace zimble::ui {

// Draws a bevel of the given width inside rect: light at top-left and dark at bottom-right
// when raised, the other way round when sunken.
void drawBevel(QPainter& painter, const QRect& rect, int width, bool raised, const QColor& face);

} // namespace zimble::ui
