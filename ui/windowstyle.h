#pragma once
// The look shared by the windows: title, colours, fonts, icon, and placing controls in twips.

#include <QColor>
#include <QFont>
#include <QString>

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
// Centres a window on the screen it will appear on.
void centreOnScreen(QWidget* window);
// Places a child control by its design rectangle in twips.
void place(QWidget* control, double left, double top, double width, double height);

// The sans-serif faces that stand in for the classic Windows UI fonts.
QFont sansFont(double pointSize, bool bold = true);
QFont arialFont(double pointSize, bool bold = true);

// The program icon at every size it ships in.
QIcon programIcon();

} // namespace zimble::ui
