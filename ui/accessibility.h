#pragma once
// What a screen reader learns of the control kinds, through Qt's accessibility bridge (AT-SPI on
// Linux): the knob is a slider with its value and the slider's actions, an LED display a text
// with its number as value, the gauge an indicator with its reading as value, a 3-D panel a text
// holding its caption (after its accessible name, where it has one).

#include <QString>

class QWidget;

namespace zimble::ui {

// Registers the interfaces above with Qt; safe to call any number of times.
void installAccessibility();

// Tells a screen reader that `widget`'s text is news to speak now, without the focus moving
// (a status line's new message).
void announce(QWidget* widget);

} // namespace zimble::ui
