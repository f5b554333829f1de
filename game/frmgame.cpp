#include "frmgame.h"

#include "layout.h"
#include "module1.h"
#include "scoring.h"

#include "app/shell.h"
#include "scores/frmsum.h"
#include "ui/analoggauge.h"
#include "ui/forms.h"
#include "ui/knob.h"
#include "ui/numled.h"
#include "ui/threedbutton.h"
#include "ui/twips.h"

#include <QApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QTimer>

#include <span>

namespace zimble {

using namespace ui;
using namespace Module1;

namespace {

// Overlay parking place and animation steps, in twips.
constexpr double ParkLeft = 570, ParkTop = 570, ParkSize = 60;
constexpr float FrameDelay = 0.06f;

} // namespace

qint16 keyCharCode(const QKeyEvent* event)
{
    const int key = event->key();
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier) && !event->modifiers().testFlag(Qt::AltModifier);
    if (ctrl && key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<qint16>(key - Qt::Key_A + 1);
    const QString text = event->text();
    if (!text.isEmpty())
        return static_cast<qint16>(text.at(0).unicode());
    return 0;
}

frmGame::frmGame(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmGame"));
    setupWindow(this, 10875, 8415, Qt::black);
    pause = [](float seconds) { Module1::Pause(seconds); };
    showSummary = [this] {
        frmSum summary(LED, this);
        summary.exec();
    };
    buildControls();
    Form_Load();
}

frmGame::~frmGame()
{
    Timer1->stop();
}

void frmGame::buildControls()
{
    LED = new NumLed(this);
    LED->setObjectName(QStringLiteral("LED"));
    LED->setDigitCount(12);
    LED->setDecimals(4);
    place(LED, 675, 105, 9585, 1380);

    // The pool of 49 board buttons, in rows of 7 until the layout places them.
    for (int i = 0; i < BoardPoolSize; ++i) {
        auto* b = BB.add(i, new ThreeDButton(this));
        b->setBackColor(Qt::black);
        b->setBevelWidth(2);
        place(b, 120 + (i % 7) * 1200, 1560 + (i / 7) * 1200, 1200, 1200);
        connect(b, &QAbstractButton::clicked, this, [this, i] { BB_Click(static_cast<qint16>(i)); });
    }

    auto* knob = Knob2.add(10, new Knob(this));
    knob->setMinimum(4);
    knob->setMaximum(7);
    knob->setKnobValue(4);
    place(knob, 9030, 6465, 1725, 1845);
    connect(knob, &Knob::changed, this, [this] { Knob2_Change(10); });

    SSReset = new ThreeDButton(this);
    SSReset->setObjectName(QStringLiteral("SSReset"));
    SSReset->setPicture(QPixmap(QStringLiteral(":/pictures/reset.jpg")));
    SSReset->setBevelWidth(3);
    SSReset->setVisible(false);
    place(SSReset, 9060, 6570, 1650, 1650);
    connect(SSReset, &QAbstractButton::clicked, this, &frmGame::SSReset_Click);

    AGauge6 = new AnalogGauge(this);
    AGauge6->setObjectName(QStringLiteral("AGauge6"));
    AGauge6->setNeedleCount(3);
    AGauge6->setNeedleScale(0, 61);
    AGauge6->setNeedleScale(1, 16);
    AGauge6->setNeedleScale(2, 6);
    AGauge6->setNeedleColor(0, QColor(240, 240, 240));
    AGauge6->setNeedleColor(1, QColor(255, 64, 48));
    AGauge6->setNeedleColor(2, QColor(255, 196, 64));
    AGauge6->setNeedleLength(0, 0.82);
    AGauge6->setNeedleLength(1, 0.95);
    AGauge6->setNeedleLength(2, 0.55);
    place(AGauge6, -15, 6540, 2025, 1830);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(50);
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &frmGame::Timer1_Timer);

    XX = new ThreeDButton(this);
    XX->setObjectName(QStringLiteral("XX"));
    XX->setBevelWidth(1);
    XX->setFocusPolicy(Qt::NoFocus);
    XX->setAttribute(Qt::WA_TransparentForMouseEvents);
    XX->setVisible(false);
    place(XX, 0, 0, 30, 30);

    // Tab order: LED, BB(0)..BB(5), knob, BB(6)..BB(48), gauge, reset, overlay.
    QWidget* previous = LED;
    auto chain = [&](QWidget* next) {
        setTabOrder(previous, next);
        previous = next;
    };
    for (int i = 0; i <= 5; ++i)
        chain(BB(i));
    chain(knob);
    for (int i = 6; i < BoardPoolSize; ++i)
        chain(BB(i));
    chain(SSReset);

    // Key preview: the window sees every key before the control that has the focus.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    installEventFilter(this);
}

QString frmGame::pictureName(int c)
{
    return QString::fromStdString(DataDir) + QStringLiteral("tessa") + QString::number(c) + QStringLiteral(".jpg");
}

void frmGame::Form_Load()
{
    setWindowTitle(Title + QStringLiteral(" Playing Field"));
    BoardSize = 4;
    DoBut();
    DoReset();
    checkPictures();
}

void frmGame::checkPictures()
{
    // Tell the player about a missing picture now, not at the first click.
    for (int c = 1; c <= 3 && m_picturesUsable; ++c) {
        QPixmap probe;
        loadPicture(c, probe);
    }
}

bool frmGame::loadPicture(int c, QPixmap& out)
{
    const QString file = pictureName(c);
    QImageReader reader(file);
    const QImage image = reader.read();
    if (image.isNull()) {
        failPicture(file, reader.errorString());
        return false;
    }
    out = QPixmap::fromImage(image);
    return true;
}

void frmGame::failPicture(const QString& file, const QString& reason)
{
    m_picturesUsable = false;
    Timer1->stop();
    showMessage(this, QStringLiteral("%1 cannot continue: the picture \"%2\" could not be loaded (%3).")
                          .arg(Title, file, reason));
    // End every event loop, the playing field's and the program's, with a failure status.
    QCoreApplication::exit(1);
    hide();
}

void frmGame::DoBut()
{
    const auto edge = buttonEdge(BoardSize);
    if (!edge)
        return; // no board of that size; the knob's range never produces one
    const double e = *edge;

    for (int i = 0; i < BoardPoolSize; ++i) {
        ThreeDButton* b = BB(i);
        b->setVisible(false);
        const QRectF g = twipGeometry(b);
        setTwipGeometry(b, g.left(), g.top(), e, e);
        b->setBackColor(Qt::black);
        b->setPicture(QPixmap());
    }

    const QRectF led = twipGeometry(LED);
    const LayoutFrame frame{width() * 15.0, height() * 15.0, led.top(), led.height()};
    for (int r = 0; r < BoardSize; ++r) {
        for (int c = 0; c < BoardSize; ++c) {
            const TwipPoint pos = buttonPosition(frame, BoardSize, r, c);
            setTwipGeometry(BB(r * BoardSize + c), pos.left, pos.top, e, e);
        }
    }

    for (int i = 0; i < BoardSize * BoardSize; ++i)
        BB(i)->setVisible(true);
}

void frmGame::DoReset()
{
    Timer1->stop();
    setNeedle(0, 0);
    setNeedle(1, 0);
    setNeedle(2, 0);
    clearGame();
    LED->setValue(0);
    Knob2(10)->setVisible(true);
    SSReset->setVisible(false);
    DoBut();
}

void frmGame::Knob2_Change(qint16)
{
    BoardSize = toInt32HalfEven(Knob2(10)->knobValue());
    DoBut();
}

void frmGame::SSReset_Click()
{
    DoReset();
    LED->setValue(0);
}

void frmGame::setNeedle(int index, double value)
{
    AGauge6->setNeedleIndex(index);
    AGauge6->setNeedleValue(value);
}

double frmGame::needle(int index)
{
    AGauge6->setNeedleIndex(index);
    return AGauge6->needleValue();
}

void frmGame::Timer1_Timer()
{
    ClockNeedles now;
    now.fast = needle(1);
    if (toInt32HalfEven(now.fast) + 1 > 15) {
        now.middle = needle(0);
        if (toInt32HalfEven(now.middle) + 1 > 60)
            now.slow = needle(2);
    }
    const ClockTick t = clockTick(now);
    if (t.cycleCompleted)
        ++TimeCount;
    if (t.slowWritten)
        setNeedle(2, t.slow);
    if (t.middleWritten)
        setNeedle(0, t.middle);
    setNeedle(1, t.fast);
}

void frmGame::endGame()
{
    Timer1->stop();
    if (showSummary)
        showSummary();
    DoReset();
}

void frmGame::Form_KeyPress(qint16 KeyAscii)
{
    if (KeyAscii == 20)
        endGame();
}

void frmGame::moveTwips(QWidget* control, double left, double top, double width, double height)
{
    const QRect before = control->geometry();
    setTwipGeometry(control, left, top, width, height);
    refresh(control, before);
}

void frmGame::refresh(QWidget* control, const QRect& before)
{
    // Paint now, without returning to the event loop: the control's new place and the
    // part of the board it has just uncovered.
    if (isVisible())
        repaint(before.united(control->geometry()));
    if (frameObserver)
        frameObserver(control, twipGeometry(control));
}

void frmGame::BB_Click(qint16 Index)
{
    const int i = Index;
    if (i < 0 || i >= BoardSize * BoardSize || HitCount[i] >= 4 || !m_picturesUsable)
        return;
    ThreeDButton* button = BB(i);

    Knob2(10)->setVisible(false);
    if (ClickCount == 0)
        Timer1->start();
    SSReset->setVisible(true);
    const int c = ++HitCount[i];

    if (c == 4) {
        XX->setBackColor(Qt::black);
        XX->setPicture(QPixmap());
        setTwipGeometry(XX, ParkLeft, ParkTop, ParkSize, ParkSize);
        XX->setVisible(true);
        XX->raise();
        const QRectF g = twipGeometry(button);
        const double L0 = toInt32HalfEven(g.left());
        const double T0 = toInt32HalfEven(g.top());
        double s = 1200;
        for (int k = 0; k <= 540; k += 60) {
            pause(FrameDelay);
            moveTwips(button, L0 + k, T0 + k, s, s);
            s -= 120;
        }
        XX->setVisible(false);
        button->setVisible(false);
    } else {
        QPixmap picture;
        if (!loadPicture(c, picture))
            return;
        XX->setBackColor(Qt::white);
        XX->setPicture(picture);
        setTwipGeometry(XX, ParkLeft, ParkTop, ParkSize, ParkSize);
        XX->setVisible(true);
        XX->raise();
        double s = 60;
        for (int k = 540; k >= 0; k -= 60) {
            pause(FrameDelay);
            const QRectF g = twipGeometry(button);
            moveTwips(XX, g.left() + k, g.top() + k, s, s);
            s += 120;
        }
        XX->setVisible(false);
        // The same file once more, now onto the button, where it stays.
        if (!loadPicture(c, picture))
            return;
        button->setPicture(picture);
    }

    // Analysis and score.
    ++ClickTotal;
    ClickHistory[static_cast<std::size_t>(ClickTotal)] = i;
    Score = computeScore(std::span<const std::int32_t>(ClickHistory.data() + 1, static_cast<std::size_t>(ClickTotal)),
                         BoardSize, TimeCount);
    LED->setValue(Score.toDouble());
    LED->setFocus();

    ++ClickCount;
    if (ClickCount == MaxClicks())
        endGame();
}

bool frmGame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        // A key the focused control ignores travels on to its parents; see it only once.
        const bool repeatOfSame = event == m_lastKey && m_lastKeyReceiver && watched != m_lastKeyReceiver
            && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->isAncestorOf(static_cast<QWidget*>(m_lastKeyReceiver));
        if (!repeatOfSame) {
            m_lastKey = event;
            m_lastKeyReceiver = watched;
            Form_KeyPress(keyCharCode(static_cast<QKeyEvent*>(event)));
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmGame::keyPressEvent(QKeyEvent* event)
{
    // The playing field closes only by its close box, not by Esc.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace zimble
