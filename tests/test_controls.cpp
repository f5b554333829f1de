// The control kinds on their own: LED text, knob turning, gauge needles, panels and twips.

#include "ui/analoggauge.h"
#include "ui/knob.h"
#include "ui/numled.h"
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
        NumLed led;
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
        QSignalSpy changed(&led, &NumLed::valueChanged);
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
        QSignalSpy changed(&knob, &Knob::changed);
        const QPoint c(58, 61);
        // Straight up is the middle of the 270-degree sweep: 5.5, which settles on 6 (halves to even).
        QTest::mousePress(&knob, Qt::LeftButton, {}, c + QPoint(0, -40));
        QCOMPARE(knob.knobValue(), 5.5);
        QTest::mouseRelease(&knob, Qt::LeftButton, {}, c + QPoint(0, -40));
        QCOMPARE(knob.knobValue(), 6.0);
        // Lower left is the minimum, lower right the maximum; the dead zone at the bottom snaps to an end.
        QTest::mouseClick(&knob, Qt::LeftButton, {}, c + QPoint(-30, 30));
        QCOMPARE(knob.knobValue(), 4.0);
        QTest::mouseClick(&knob, Qt::LeftButton, {}, c + QPoint(30, 30));
        QCOMPARE(knob.knobValue(), 7.0);
        QTest::mouseClick(&knob, Qt::LeftButton, {}, c + QPoint(-2, 40));
        QCOMPARE(knob.knobValue(), 4.0);
        QVERIFY(changed.count() >= 4);
        knob.setKnobValue(99);
        QCOMPARE(knob.knobValue(), 7.0);
    }

    void gaugeAddressesOneNeedleAtATime()
    {
        AnalogGauge gauge;
        gauge.setNeedleCount(3);
        gauge.setNeedleIndex(2);
        gauge.setNeedleValue(5);
        gauge.setNeedleIndex(0);
        gauge.setNeedleValue(60);
        gauge.setNeedleIndex(2);
        QCOMPARE(gauge.needleValue(), 5.0);
        gauge.setNeedleIndex(7); // no such needle: the selection stays
        QCOMPARE(gauge.needleIndex(), qint16(2));
        gauge.setNeedleIndex(-1);
        QCOMPARE(gauge.needleValue(), 5.0);
        gauge.setNeedleIndex(1);
        QCOMPARE(gauge.needleValue(), 0.0);
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
