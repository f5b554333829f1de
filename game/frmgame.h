#pragma once
// The playing field: the board of picture buttons, the ZQ display, the knob, the clock and reset.

#include "ui/controlarray.h"

#include <QDialog>
#include <QPixmap>
#include <QRectF>

#include <functional>

class QTimer;

namespace zimble {

namespace ui {
class AnalogGauge;
class Knob;
class NumLed;
class ThreeDButton;
} // namespace ui

class frmGame : public QDialog {
    Q_OBJECT
public:
    explicit frmGame(QWidget* parent = nullptr);
    ~frmGame() override;

    ui::NumLed* LED = nullptr;
    ui::ControlArray<ui::ThreeDButton> BB{QStringLiteral("BB")};
    ui::ControlArray<ui::Knob> Knob2{QStringLiteral("Knob2")};
    ui::ThreeDButton* SSReset = nullptr;
    ui::AnalogGauge* AGauge6 = nullptr;
    QTimer* Timer1 = nullptr;
    ui::ThreeDButton* XX = nullptr;

    void Form_Load();
    void DoBut();
    void DoReset();
    void Knob2_Change(qint16 Index);
    void SSReset_Click();
    void Timer1_Timer();
    void Form_KeyPress(qint16 KeyAscii);
    void BB_Click(qint16 Index);

    // The file name of the picture for a button's c-th click.
    static QString pictureName(int c);

    // Seams for tests and benchmarks: the delay before each animation frame, an observer of every
    // frame drawn (the control moved and its new twip rectangle), and the end-of-game summary.
    std::function<void(float seconds)> pause;
    std::function<void(const QWidget* control, const QRectF& twips)> frameObserver;
    std::function<void()> showSummary;

    // False when a board picture could not be loaded; the program is then ending.
    bool picturesUsable() const { return m_picturesUsable; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void checkPictures();
    // Loads a board picture; on failure tells the player and ends the program with status 1.
    bool loadPicture(int c, QPixmap& out);
    void failPicture(const QString& file, const QString& reason);
    void moveTwips(QWidget* control, double left, double top, double width, double height);
    void refresh(QWidget* control, const QRect& before);
    void endGame();
    void setNeedle(int needle, double value);
    double needle(int needle);

    bool m_picturesUsable = true;
    const QEvent* m_lastKey = nullptr;
    QObject* m_lastKeyReceiver = nullptr;
};

// The key press as a character code: control letters give 1 to 26 (Ctrl+T is 20).
qint16 keyCharCode(const QKeyEvent* event);

} // namespace zimble
