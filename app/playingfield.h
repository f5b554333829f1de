#pragma once
// The playing field: the board of picture tiles, the ZQ display, the board-size knob, the game
// clock and the reset button. It owns the game in progress.

#include "game/gamestate.h"

#include <QDialog>
#include <QPixmap>
#include <QRectF>

#include <array>
#include <functional>

class QTimer;

namespace zimble {

class Session;

namespace ui {
class AnalogGauge;
class Knob;
class LedDisplay;
class ThreeDButton;
} // namespace ui

class PlayingField : public QDialog {
    Q_OBJECT
public:
    explicit PlayingField(Session& session, QWidget* parent = nullptr);
    ~PlayingField() override;

    const GameState& state() const { return m_state; }

    ui::LedDisplay* scoreDisplay() const { return m_scoreDisplay; }
    ui::ThreeDButton* tile(int index) const;
    ui::Knob* sizeKnob() const { return m_sizeKnob; }
    ui::ThreeDButton* resetButton() const { return m_resetButton; }
    ui::AnalogGauge* clockGauge() const { return m_clockGauge; }
    QTimer* clockTimer() const { return m_clockTimer; }
    ui::ThreeDButton* overlay() const { return m_overlay; }

    // False when a board picture could not be loaded; the program is then ending.
    bool picturesUsable() const { return m_picturesUsable; }

    // Seams for tests and benchmarks: the delay before each animation frame, an observer of
    // every frame drawn (the control moved and its new twip rectangle), and what the end of a
    // game shows (the summary window by default).
    void setFrameDelay(std::function<void(float seconds)> delay) { m_frameDelay = std::move(delay); }
    void setFrameObserver(std::function<void(const QWidget* control, const QRectF& twips)> observer)
    {
        m_frameObserver = std::move(observer);
    }
    void setSummaryPresenter(std::function<void()> presenter) { m_summaryPresenter = std::move(presenter); }

public slots:
    void onTileClicked(int index);
    void onSizeKnobChanged();
    void onResetClicked();
    void onClockTick();
    // Ends the game now (Ctrl+T): the summary window, then a reset.
    void endGame();
    // Back to a fresh game on the current board size.
    void resetGame();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Arrow keys, Home and End on the tiles.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Tab and Shift+Tab: the board is one stop, then the knob and the reset button where shown.
    bool focusNextPrevChild(bool next) override;

private:
    void buildControls();
    void load();
    void layoutBoard();
    // The tile's name for a screen reader: its place and what it shows.
    void nameTile(int index);
    void checkPictures();
    // Loads a board picture; on failure tells the player and ends the program with status 1.
    bool loadPicture(int hits, QPixmap& out);
    void failPicture(const QString& file, const QString& reason);
    void playShrink(ui::ThreeDButton* tile);
    void playReveal(ui::ThreeDButton* tile, const QPixmap& picture);
    void parkOverlay(const QColor& back, const QPixmap& picture);
    void moveTwips(QWidget* control, double left, double top, double width, double height);
    void showSummary();
    // The index of a tile of the pool, or -1.
    int tileIndex(const QObject* object) const;
    int focusedTile() const;
    void focusTile(int index);
    // The board's tab stop: the tile that had the focus last, or the first clickable one.
    void focusBoard();

    Session& m_session;
    GameState m_state;
    bool m_picturesUsable = true;
    // Set while tiles are hidden and shown again, so that Qt does not move the focus meanwhile.
    bool m_holdFocus = false;
    int m_boardFocus = 0;

    ui::LedDisplay* m_scoreDisplay = nullptr;
    std::array<ui::ThreeDButton*, TilePoolSize> m_tiles{};
    ui::Knob* m_sizeKnob = nullptr;
    ui::ThreeDButton* m_resetButton = nullptr;
    ui::AnalogGauge* m_clockGauge = nullptr;
    QTimer* m_clockTimer = nullptr;
    ui::ThreeDButton* m_overlay = nullptr;

    std::function<void(float)> m_frameDelay;
    std::function<void(const QWidget*, const QRectF&)> m_frameObserver;
    std::function<void()> m_summaryPresenter;
};

} // namespace zimble
