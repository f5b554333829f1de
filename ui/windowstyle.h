#pragma once
// The look shared by the windows: title, colours, fonts, icon, and placing controls in twips.

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;
class QDialog;

namespace zimble::ui {

// The game's title; every caption is built from it.
inline const QString Title = QStringLiteral("Zimble");

// Common background colours of the windows.
inline const QColor Peach(255, 224, 192);
inline const QColor Apricot(255, 192, 128);

// Sizes a window's client area in twips, paints its background and sets the program icon.
void setupWindow(QWidget* window, int widthTwips, int heightTwips, const QColor& back);
// Where a window whose frame is `frame` opens in the available area of its screen: centred on
// `centre` (the area's centre when none is given) and kept inside the area along each side where
// it fits; at the area's left or top edge along a side where it does not.
QPoint windowPosition(const QRect& available, const QSize& frame, std::optional<QPoint> centre = std::nullopt);
// Places a window before it opens: centred on its owner when it has one (a modal window), else
// on the screen, always with its top-left corner inside the screen's available area.
void placeOnScreen(QWidget* window, const QWidget* owner = nullptr);
// Places a child control by its design rectangle in twips.
void place(QWidget* control, double left, double top, double width, double height);

// The sans-serif faces that stand in for the classic Windows UI fonts.
QFont sansFont(double pointSize, bool bold = true);
QFont arialFont(double pointSize, bool bold = true);

// The program icon at every size it ships in.
QIcon programIcon();

} // namespace zimble::ui
