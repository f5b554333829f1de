// The control kinds on their own: LED text, knob turning, gauge needles, panels and twips.

#include "ui/analoggauge.h"
#include "ui/knob.h"
#include "ui/leddisplay.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/twips.h"

#include <QSignalSpy>
#include <QtTest>

using namespace zimble::ui;

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void ledShowsFixedDecimalsRightAligned()
    {
        LedDisplay led;
        led.setDigitCount(8);
        led.setDecimals(2);
        led.setValue(412.7);
        QCOMPARE(led.displayText(), QStringLiteral("   412.70")); // the point takes no cell
        led.setValue(-3.005);
        QCOMPARE(led.displayText().trimmed().left(4), QStringLiteral("-3.0"));
        // Too many digits for the cells: fewer decimals first, then an error mark.
        led.setValue(1234567.89);
        QCOMPARE(led.displayText(), QStringLiteral("1234567.9"));
        led.setValue(12345678.9);
        QCOMPARE(led.displayText(), QStringLiteral("12345679"));
        led.setValue(123456789012.0);
        QCOMPARE(led.displayText(), QStringLiteral("       E"));
        led.setValue(qQNaN());
        QCOMPARE(led.displayText(), QStringLiteral("       E"));
        QSignalSpy changed(&led, &LedDisplay::valueChanged);
        led.setValue(1);
        led.setValue(1);
        QCOMPARE(changed.count(), 1);
    }

    void knobFollowsTheMouseAndSettlesOnAWholeNumber()
    {
        Knob knob;
        knob.setMinimum(4);
        knob.setMaximum(7);
        knob.resize(116, 123);
        QSignalSpy changed(&knob, &Knob::valueChanged);
        const QPoint c(58, 61);
        // Straight up is the middle of the 270-degree sweep: 5.5, which settles on 6 (halves to even).
        QTest::mousePress(&knob, Qt::LeftButton, {}, c + QPoint(0, -40));
        QCOMPARE(knob.value(), 5.5);
        QTest::mouseRelease(&knob, Qt::LeftButton, {}, c + QPoint(0, -40));
        QCOMPARE(knob.value(), 6.0);
        // Lower left is the minimum, lower right the maximum; the dead zone at the bottom snaps to an end.
        QTest::mouseClick(&knob, Qt::LeftButton, {}, c + QPoint(-30, 30));
        QCOMPARE(knob.value(), 4.0);
        QTest::mouseClick(&knob, Qt::LeftButton, {}, c + QPoint(30, 30));
        QCOMPARE(knob.value(), 7.0);
        QTest::mouseClick(&knob, Qt::LeftButton, {}, c + QPoint(-2, 40));
        QCOMPARE(knob.value(), 4.0);
        QVERIFY(changed.count() >= 4);
        knob.setValue(99);
        QCOMPARE(knob.value(), 7.0);
    }

    void gaugeNeedlesHoldTheirOwnValues()
    {
        AnalogGauge gauge;
        gauge.setNeedleCount(3);
        gauge.setNeedleValue(2, 5);
        gauge.setNeedleValue(0, 60);
        QCOMPARE(gauge.needleValue(2), 5.0);
        QCOMPARE(gauge.needleValue(0), 60.0);
        QCOMPARE(gauge.needleValue(1), 0.0);
        // Needles that do not exist hold nothing and change nothing.
        gauge.setNeedleValue(7, 9);
        gauge.setNeedleValue(-1, 9);
        QCOMPARE(gauge.needleValue(7), 0.0);
        QCOMPARE(gauge.needleValue(-1), 0.0);
        QCOMPARE(gauge.needleValue(2), 5.0);
        gauge.setNeedleCount(2);
        QCOMPARE(gauge.needleValue(2), 0.0);
    }

    void panelsAndTwips()
    {
        ThreeDPanel panel(QStringLiteral("A long caption that has to wrap onto several lines"));
        QVERIFY(panel.sizeHint().height() > panel.fontMetrics().height() * 2);
        QWidget w;
        setTwipGeometry(&w, 3037.5, 2550, 1200, 1200);
        QCOMPARE(w.geometry(), QRect(202, 170, 80, 80));
        QCOMPARE(twipGeometry(&w), QRectF(3037.5, 2550, 1200, 1200));
        w.move(10, 10); // moved by other means: the pixel place is the truth
        QCOMPARE(twipGeometry(&w), QRectF(150, 150, 1200, 1200));
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
