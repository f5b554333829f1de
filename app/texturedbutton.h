#pragma once
// The 3-D command buttons of the start, summary, help and about windows: bold caption over the
// window's button texture.

#include <QString>

class QWidget;

namespace zimble {

namespace ui {
class ThreeDButton;
}

// A button placed by twips; `wide` takes the long texture of "Enter the Playing Field".
ui::ThreeDButton* texturedButton(QWidget* parent, const QString& objectName, const QString& caption, double left,
                                 double top, double width, double height, bool wide = false);

} // namespace zimble
