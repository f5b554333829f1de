#pragma once
// The look shared by the windows: title, colours, fonts, icon, and placing controls in twips.

#include <QColor>
#include <QPixmap>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;
class QDialog;
class QMargins;

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
// The factor a window of design client size `client` (logical pixels) with a frame of `frame`
// around it is shown at in `available`: 1 where it fits, else the largest that fits it whole.
double fitScale(const QRect& available, const QSize& client, const QMargins& frame);
// Shows a window set up with setupWindow whole in `available`: scaled down through one factor
// (controls, fonts and client size alike) where its design does not fit, at its design size
// where it does.
void fitToScreen(QWidget* window, const QRect& available);
// Places a window before it opens: fitted to the screen's available area, centred on its owner
// when it has one (a modal window), else on the screen, always with its top-left corner inside
// the available area.
void placeOnScreen(QWidget* window, const QWidget* owner = nullptr);
// The design size of a window's client area in twips, whatever size it is shown at.
QSizeF clientTwips(const QWidget* window);
// Places a child control by its design rectangle in twips.
void place(QWidget* control, double left, double top, double width, double height);

// The sans-serif faces that stand in for the classic Windows UI fonts.
QFont sansFont(double pointSize, bool bold = true);
QFont arialFont(double pointSize, bool bold = true);

// A picture stored with the windows, shown at `design` logical pixels: its pixels beyond that
// size (the pictures are stored at twice it) keep it crisp on a scaled screen.
QPixmap designPicture(const QString& file, const QSize& design);

// The program icon at every size it ships in.
QIcon programIcon();

} // namespace zimble::ui
