#include "playingfield.h"

#include "session.h"
#include "summarywindow.h"

#include "game/boardlayout.h"
#include "game/delay.h"
#include "game/gameclock.h"
#include "ui/analoggauge.h"
#include "ui/knob.h"
#include "ui/leddisplay.h"
#include "ui/threedbutton.h"
#include "ui/twips.h"
#include "ui/windowstyle.h"

#include <QApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

namespace zimble {

using namespace ui;

namespace {

// Where the animation overlay waits between frames, and the animation's steps, in twips.
constexpr double ParkLeft = 570, ParkTop = 570, ParkSize = 60;
constexpr int FrameCount = 10;
constexpr double FrameOffsetStep = 60, FrameSizeStep = 120;
constexpr double ShrinkStartSize = 1200, RevealStartSize = 60;
constexpr float FrameDelaySeconds = 0.06f;

} // namespace

PlayingField::PlayingField(Session& session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
    , m_frameDelay(blockingDelay)
{
    setObjectName(QStringLiteral("playingField"));
    setupWindow(this, 10875, 8415, Qt::black);
    buildControls();
    load();
}

PlayingField::~PlayingField()
{
    m_clockTimer->stop();
}

ThreeDButton* PlayingField::tile(int index) const
{
    return index >= 0 && index < TilePoolSize ? m_tiles[static_cast<std::size_t>(index)] : nullptr;
}

void PlayingField::buildControls()
{
    m_scoreDisplay = new LedDisplay(this);
    m_scoreDisplay->setObjectName(QStringLiteral("scoreDisplay"));
    m_scoreDisplay->setDigitCount(12);
    m_scoreDisplay->setDecimals(4);
    m_scoreDisplay->setFocusPolicy(Qt::NoFocus); // shows the ZQ; the focus stays on the board
    m_scoreDisplay->setAccessibleName(QStringLiteral("ZQ"));
    place(m_scoreDisplay, 675, 105, 9585, 1380);

    // The pool of tiles, in rows of the largest board until the layout places them.
    for (int i = 0; i < TilePoolSize; ++i) {
        auto* b = new ThreeDButton(this);
        b->setObjectName(QStringLiteral("tile%1").arg(i));
        b->setBackColor(Qt::black);
        b->setBevelWidth(2);
        place(b, 120 + (i % MaxBoardSize) * 1200, 1560 + (i / MaxBoardSize) * 1200, 1200, 1200);
        connect(b, &QAbstractButton::clicked, this, [this, i] { onTileClicked(i); });
        b->installEventFilter(this);
        m_tiles[static_cast<std::size_t>(i)] = b;
    }

    m_sizeKnob = new Knob(this);
    m_sizeKnob->setObjectName(QStringLiteral("sizeKnob"));
    m_sizeKnob->setMinimum(MinBoardSize);
    m_sizeKnob->setMaximum(MaxBoardSize);
    m_sizeKnob->setValue(MinBoardSize);
    m_sizeKnob->setAccessibleName(QStringLiteral("Board size"));
    place(m_sizeKnob, 9030, 6465, 1725, 1845);
    connect(m_sizeKnob, &Knob::valueChanged, this, &PlayingField::onSizeKnobChanged);

    m_resetButton = new ThreeDButton(this);
    m_resetButton->setObjectName(QStringLiteral("resetButton"));
    m_resetButton->setPicture(designPicture(QStringLiteral(":/pictures/reset.jpg"), QSize(106, 106)));
    m_resetButton->setBevelWidth(3);
    m_resetButton->setVisible(false);
    m_resetButton->setAccessibleName(QStringLiteral("Reset"));
    place(m_resetButton, 9060, 6570, 1650, 1650);
    connect(m_resetButton, &QAbstractButton::clicked, this, &PlayingField::onResetClicked);

    m_clockGauge = new AnalogGauge(this);
    m_clockGauge->setObjectName(QStringLiteral("clockGauge"));
    m_clockGauge->setNeedleCount(ClockNeedleCount);
    m_clockGauge->setNeedleScale(MiddleNeedle, 61);
    m_clockGauge->setNeedleScale(FastNeedle, 16);
    m_clockGauge->setNeedleScale(SlowNeedle, 6);
    m_clockGauge->setNeedleColor(MiddleNeedle, QColor(240, 240, 240));
    m_clockGauge->setNeedleColor(FastNeedle, QColor(255, 64, 48));
    m_clockGauge->setNeedleColor(SlowNeedle, QColor(255, 196, 64));
    m_clockGauge->setNeedleLength(MiddleNeedle, 0.82);
    m_clockGauge->setNeedleLength(FastNeedle, 0.95);
    m_clockGauge->setNeedleLength(SlowNeedle, 0.55);
    place(m_clockGauge, -15, 6540, 2025, 1830);
    m_clockGauge->setAccessibleName(QStringLiteral("Game clock"));
    // Read out as the time its needles show: 16 ticks of 50 ms to a step of the middle needle,
    // 61 of those to a step of the slow one.
    m_clockGauge->setReading(
        [gauge = m_clockGauge] {
            const double steps = (gauge->needleValue(SlowNeedle) * 61 + gauge->needleValue(MiddleNeedle)) * 16
                + gauge->needleValue(FastNeedle);
            return steps * ClockTickMs / 1000.0;
        },
        [](double seconds) { return QStringLiteral("%1 seconds").arg(seconds, 0, 'f', 2); });

    m_clockTimer = new QTimer(this);
    m_clockTimer->setObjectName(QStringLiteral("clockTimer"));
    m_clockTimer->setInterval(ClockTickMs);
    m_clockTimer->setTimerType(Qt::PreciseTimer);
    connect(m_clockTimer, &QTimer::timeout, this, &PlayingField::onClockTick);

    m_overlay = new ThreeDButton(this);
    m_overlay->setObjectName(QStringLiteral("overlay"));
    m_overlay->setBevelWidth(1);
    m_overlay->setFocusPolicy(Qt::NoFocus);
    m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_overlay->setVisible(false);
    place(m_overlay, 0, 0, 30, 30);

    // Tab order: the display, tiles 0 to 5, the knob, tiles 6 to 48, the reset button.
    QWidget* previous = m_scoreDisplay;
    auto chain = [&](QWidget* next) {
        setTabOrder(previous, next);
        previous = next;
    };
    for (int i = 0; i <= 5; ++i)
        chain(tile(i));
    chain(m_sizeKnob);
    for (int i = 6; i < TilePoolSize; ++i)
        chain(tile(i));
    chain(m_resetButton);

    // Ctrl+T ends the game early, whichever control has the focus.
    auto* endShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    endShortcut->setContext(Qt::WindowShortcut);
    endShortcut->setAutoRepeat(false);
    connect(endShortcut, &QShortcut::activated, this, &PlayingField::endGame);
}

void PlayingField::load()
{
    setWindowTitle(Title + QStringLiteral(" Playing Field"));
    m_state.setBoardSize(MinBoardSize);
    layoutBoard();
    resetGame();
    focusBoard();
    checkPictures();
}

void PlayingField::checkPictures()
{
    // Tell the player about a missing picture now, not at the first click.
    for (int hits = 1; hits < HitsToRemoveTile && m_picturesUsable; ++hits) {
        QPixmap probe;
        loadPicture(hits, probe);
    }
}

bool PlayingField::loadPicture(int hits, QPixmap& out)
{
    const QString file = m_session.pictureFileName(hits);
    QImageReader reader(file);
    const QImage image = reader.read();
    if (image.isNull()) {
        failPicture(file, reader.errorString());
        return false;
    }
    out = QPixmap::fromImage(image);
    return true;
}

void PlayingField::failPicture(const QString& file, const QString& reason)
{
    m_picturesUsable = false;
    m_clockTimer->stop();
    m_session.showMessage(this, QStringLiteral("%1 cannot continue: the picture \"%2\" could not be loaded (%3).")
                                    .arg(Title, file, reason));
    // End every event loop, the playing field's and the program's, with a failure status.
    QCoreApplication::exit(1);
    hide();
}

void PlayingField::layoutBoard()
{
    const auto edge = buttonEdge(m_state.boardSize());
    if (!edge)
        return;
    const double e = *edge;
    const QScopedValueRollback hold(m_holdFocus, true);

    // Blank every tile of the pool, so none keeps a picture, colour or size from before.
    for (ThreeDButton* b : m_tiles) {
        b->setVisible(false);
        const QRectF g = twipGeometry(b);
        setTwipGeometry(b, g.left(), g.top(), e, e);
        b->setBackColor(Qt::black);
        b->setPicture(QPixmap());
    }

    const int n = m_state.boardSize();
    const QRectF display = twipGeometry(m_scoreDisplay);
    const QSizeF client = clientTwips(this);
    const LayoutFrame frame{client.width(), client.height(), display.top(), display.height()};
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const TwipPoint pos = buttonPosition(frame, n, r, c);
            setTwipGeometry(tile(r * n + c), pos.left, pos.top, e, e);
        }
    }

    for (int i = 0; i < m_state.tileCount(); ++i) {
        nameTile(i);
        tile(i)->setVisible(true);
    }
}

void PlayingField::nameTile(int index)
{
    // "Row 2, column 3: picture 2", as a screen reader says the tile.
    const int n = m_state.boardSize();
    const int hits = m_state.hitCount(index);
    const QString face = hits == 0 ? QStringLiteral("empty")
        : hits < HitsToRemoveTile  ? QStringLiteral("picture %1").arg(hits)
                                   : QStringLiteral("gone");
    tile(index)->setAccessibleName(QStringLiteral("Row %1, column %2: %3").arg(index / n + 1).arg(index % n + 1).arg(face));
}

void PlayingField::resetGame()
{
    // A player at the keyboard stays on the board, which starts again at its first tile.
    const bool boardFocused = focusedTile() >= 0 || focusWidget() == m_resetButton;
    {
        const QScopedValueRollback hold(m_holdFocus, true);
        m_clockTimer->stop();
        m_clockGauge->setNeedleValue(MiddleNeedle, 0);
        m_clockGauge->setNeedleValue(FastNeedle, 0);
        m_clockGauge->setNeedleValue(SlowNeedle, 0);
        m_state.clear();
        m_scoreDisplay->setValue(0);
        m_sizeKnob->setVisible(true);
        m_resetButton->setVisible(false);
        layoutBoard();
    }
    if (boardFocused) {
        m_boardFocus = m_state.tileAfterMove(-1, TileMove::First);
        focusBoard();
    }
}

void PlayingField::onSizeKnobChanged()
{
    m_state.setBoardSize(toInt32HalfEven(m_sizeKnob->value()));
    layoutBoard();
}

void PlayingField::onResetClicked()
{
    resetGame();
}

void PlayingField::onClockTick()
{
    ClockNeedles now;
    now.fast = m_clockGauge->needleValue(FastNeedle);
    now.middle = m_clockGauge->needleValue(MiddleNeedle);
    now.slow = m_clockGauge->needleValue(SlowNeedle);
    const ClockTick t = clockTick(now);
    if (t.cycleCompleted)
        m_state.addClockCycle();
    if (t.slowWritten)
        m_clockGauge->setNeedleValue(SlowNeedle, t.slow);
    if (t.middleWritten)
        m_clockGauge->setNeedleValue(MiddleNeedle, t.middle);
    m_clockGauge->setNeedleValue(FastNeedle, t.fast);
}

void PlayingField::showSummary()
{
    if (m_summaryPresenter) {
        m_summaryPresenter();
        return;
    }
    std::optional<GameReplay> replay;
    if (!m_state.history().empty())
        replay = m_state.replay();
    SummaryWindow summary(m_session, m_scoreDisplay->value(), m_state.boardSize(), replay, this);
    placeOnScreen(&summary, this);
    summary.exec();
}

void PlayingField::endGame()
{
    m_clockTimer->stop();
    showSummary();
    resetGame();
    // Back from the summary, the player is on the new board's first tile, with its focus mark.
    m_boardFocus = m_state.tileAfterMove(-1, TileMove::First);
    focusBoard();
    if (isVisible())
        activateWindow();
}

void PlayingField::moveTwips(QWidget* control, double left, double top, double width, double height)
{
    const QRect before = control->geometry();
    setTwipGeometry(control, left, top, width, height);
    // Paint now, without returning to the event loop: the control's new place and the part of
    // the board it has just uncovered.
    if (isVisible())
        repaint(before.united(control->geometry()));
    if (m_frameObserver)
        m_frameObserver(control, twipGeometry(control));
}

void PlayingField::parkOverlay(const QColor& back, const QPixmap& picture)
{
    m_overlay->setBackColor(back);
    m_overlay->setPicture(picture);
    setTwipGeometry(m_overlay, ParkLeft, ParkTop, ParkSize, ParkSize);
    m_overlay->setVisible(true);
    m_overlay->raise();
}

void PlayingField::playShrink(ThreeDButton* tile)
{
    // The tile shrinks towards its centre and vanishes; the overlay waits black on black.
    parkOverlay(Qt::black, QPixmap());
    const QRectF g = twipGeometry(tile);
    const double left0 = toInt32HalfEven(g.left());
    const double top0 = toInt32HalfEven(g.top());
    double size = ShrinkStartSize;
    for (int frame = 0; frame < FrameCount; ++frame) {
        const double k = frame * FrameOffsetStep;
        m_frameDelay(FrameDelaySeconds);
        moveTwips(tile, left0 + k, top0 + k, size, size);
        size -= FrameSizeStep;
    }
    m_overlay->setVisible(false);
    // The focus moves on to the next clickable tile before this one vanishes.
    const QScopedValueRollback hold(m_holdFocus, true);
    const int index = tileIndex(tile);
    if (focusedTile() == index) {
        const int next = m_state.tileAfterMove(index, TileMove::Next);
        if (next >= 0)
            focusTile(next);
    }
    tile->setVisible(false);
}

void PlayingField::playReveal(ThreeDButton* tile, const QPixmap& picture)
{
    // The next picture grows out of the tile's centre on the overlay.
    parkOverlay(Qt::white, picture);
    double size = RevealStartSize;
    for (int frame = 0; frame < FrameCount; ++frame) {
        const double k = (FrameCount - 1 - frame) * FrameOffsetStep;
        m_frameDelay(FrameDelaySeconds);
        const QRectF g = twipGeometry(tile);
        moveTwips(m_overlay, g.left() + k, g.top() + k, size, size);
        size += FrameSizeStep;
    }
    m_overlay->setVisible(false);
}

void PlayingField::onTileClicked(int index)
{
    if (!m_state.isClickable(index) || !m_picturesUsable)
        return;
    ThreeDButton* clicked = tile(index);
    // However the click came, its tile has the focus and the focus stays on the board.
    focusTile(index);

    m_sizeKnob->setVisible(false);
    if (!m_state.hasStarted())
        m_clockTimer->start();
    m_resetButton->setVisible(true);
    const int hits = m_state.addHit(index);
    nameTile(index);

    if (hits == HitsToRemoveTile) {
        playShrink(clicked);
    } else {
        QPixmap picture;
        if (!loadPicture(hits, picture))
            return;
        playReveal(clicked, picture);
        // The same file once more, now onto the tile, where it stays.
        if (!loadPicture(hits, picture))
            return;
        clicked->setPicture(picture);
    }

    const FixedPoint score = m_state.recordClick(index);
    m_scoreDisplay->setValue(score.toDouble());

    if (m_state.finishClick())
        endGame();
}

} // namespace zimble
