// The toolkit-free game core: score type, scoring, layout arithmetic, game clock, delay.

#include <QtTest>

// moc cannot parse the C++20 standard headers these pull in, and needs none of them.
#ifndef Q_MOC_RUN
#include "game/fixedpoint.h"
#include "game/layout.h"
#include "game/module1.h"
#include "game/scoring.h"

#include <chrono>
#include <vector>
#endif

using namespace zimble;

namespace {

std::int64_t scoreRaw(const std::vector<std::int32_t>& history, int boardSize = 4, int timeCount = 0)
{
    return computeScore(history, boardSize, timeCount).raw();
}

} // namespace

class TestGame : public QObject {
    Q_OBJECT
private slots:
    void fixedPointRoundsHalfToEven()
    {
        // 0.03125 and 0.09375 are exact in binary and land on exact halves of a ten-thousandth.
        QCOMPARE(FixedPoint::fromDouble(0.03125).raw(), 312);
        QCOMPARE(FixedPoint::fromDouble(0.09375).raw(), 938);
        QCOMPARE(FixedPoint::fromDouble(-0.03125).raw(), -312);
        QCOMPARE(FixedPoint::fromDouble(-0.09375).raw(), -938);
        QCOMPARE(FixedPoint::fromDouble(1234).raw(), 12340000);
        QCOMPARE(FixedPoint::fromDouble(-7.15209).raw(), -71521);
        QCOMPARE(FixedPoint::fromDouble(std::nan("")).raw(), 0);
        QCOMPARE(FixedPoint::fromDouble(1e300).raw(), std::numeric_limits<std::int64_t>::max());
        QCOMPARE(FixedPoint::fromDouble(-1e300).raw(), std::numeric_limits<std::int64_t>::min());
        QCOMPARE(FixedPoint::fromRaw(12340000).toDouble(), 1234.0);
    }

    void wholeNumbersRoundHalfToEven()
    {
        QCOMPARE(toInt32HalfEven(2.5), 2);
        QCOMPARE(toInt32HalfEven(3.5), 4);
        QCOMPARE(toInt32HalfEven(4.5), 4);
        QCOMPARE(toInt32HalfEven(5.5), 6);
        QCOMPARE(toInt32HalfEven(-2.5), -2);
        QCOMPARE(toInt32HalfEven(6.49), 6);
        QCOMPARE(toInt32HalfEven(1e12), std::numeric_limits<std::int32_t>::max());
        QCOMPARE(toInt32HalfEven(-1e12), std::numeric_limits<std::int32_t>::min());
    }

    void fixedPointFormats()
    {
        QCOMPARE(FixedPoint::fromRaw(623254).toString(), std::string("62.3254"));
        QCOMPARE(FixedPoint::fromRaw(685580).toString(), std::string("68.558"));
        QCOMPARE(FixedPoint::fromRaw(0).toString(), std::string("0"));
        QCOMPARE(FixedPoint::fromRaw(-25000).toString(), std::string("-2.5"));
        QCOMPARE(FixedPoint::fromRaw(-1).toString(), std::string("-0.0001"));
        QCOMPARE(FixedPoint::fromRaw(std::numeric_limits<std::int64_t>::min()).toString(),
                 std::string("-922337203685477.5808"));
    }

    void scoringExamples()
    {
        // The first click of any game on any board.
        for (int n = 4; n <= 7; ++n)
            QCOMPARE(scoreRaw({n * n - 1}, n), 25000);
        // Buttons 0, 1, 2, 3 in order while the clock has not completed a cycle.
        QCOMPARE(scoreRaw({0}), 25000);
        QCOMPARE(scoreRaw({0, 1}), 49219);
        QCOMPARE(scoreRaw({0, 1, 2}), 71521);
        QCOMPARE(scoreRaw({0, 1, 2, 3}), 92334);
        // Button 5 twice: a forward run of 1 and a mirrored run of 2.
        QCOMPARE(scoreRaw({5, 5}), 172266);
        // 0, 5, 0, 5 without and with the speed blend.
        QCOMPARE(scoreRaw({0, 5, 0, 5}, 4, 0), 623254);
        QCOMPARE(scoreRaw({0, 5, 0, 5}, 4, 3), 685580);
        // The mirrored scan runs on past the point where the two ends meet: 3, 7, 3.
        // Forward (1,3): L = 1; mirrored (1,3): L = 3, so the base is 10 * (3 + 1 + 9) = 130.
        // Both steps are near (4 < 6); no triple, and 2/3 > 0 raises the count to round(1) = 1.
        const double afterNear = 130.0 * (62.0 / 64.0);
        const double afterTriples = FixedPoint::fromDouble(afterNear).toDouble() * (63.0 / 64.0);
        const double expected = FixedPoint::fromDouble(FixedPoint::fromDouble(afterTriples).toDouble() / 4).toDouble();
        QCOMPARE(computeScore(std::vector<std::int32_t>{3, 7, 3}, 4, 0).toDouble(), expected);
    }

    void nearStepBoundary()
    {
        // A step of N + 2 is not near, a step of N + 1 is (4 x 4 board).
        QCOMPARE(scoreRaw({0, 6}), 50000);
        QCOMPARE(scoreRaw({0, 5}), 49219);
        QCOMPARE(scoreRaw({6, 0}), 50000);
    }

    void speedBlendDivisor()
    {
        // Fast play: D = c * 0.7 when that is not below T; slow play: D = T.
        const std::vector<std::int32_t> h = {0, 5, 0, 5};
        QVERIFY(scoreRaw(h, 4, 1) > scoreRaw(h, 4, 3));  // c*0.7 = 2.1 >= 1: factor 0.8 + 0.3*3/2.1
        QVERIFY(scoreRaw(h, 4, 100) < scoreRaw(h, 4, 0)); // factor near 0.8
        QCOMPARE(scoreRaw(h, 4, 2), scoreRaw(h, 4, 1));   // both use D = 2.1
    }

    void floorInForceOnQuadrupleClicks()
    {
        for (int t : {0, 1, 5, 40, 1000}) {
            std::vector<std::int32_t> h;
            for (int b = 0; b < 16; ++b)
                for (int k = 0; k < 4; ++k)
                    h.push_back(b);
            QCOMPARE(computeScore(h, 4, t).raw(), 630000);
            h.pop_back();
            QCOMPARE(computeScore(h, 4, t).raw(), 620000);
        }
    }

    void emptyHistoryScoresZero()
    {
        QCOMPARE(computeScore({}, 4, 0).raw(), 0);
    }

    void layoutWorkedExample()
    {
        const LayoutFrame frame{10875, 8415, 105, 1380};
        struct Row { int n; double left, top, right, bottom; };
        const Row rows[] = {{4, 3037.5, 2550, 7837.5, 7350},
                            {5, 2662.5, 2175, 8212.5, 7725},
                            {6, 2287.5, 1800, 8587.5, 8100},
                            {7, 2077.5, 1590, 8797.5, 8310}};
        for (const Row& r : rows) {
            const int e = *buttonEdge(r.n);
            const TwipPoint first = buttonPosition(frame, r.n, 0, 0);
            const TwipPoint last = buttonPosition(frame, r.n, r.n - 1, r.n - 1);
            QCOMPARE(first.left, float(r.left));
            QCOMPARE(first.top, float(r.top));
            QCOMPARE(last.left + e, float(r.right));
            QCOMPARE(last.top + e, float(r.bottom));
        }
        QVERIFY(!buttonEdge(3));
        QVERIFY(!buttonEdge(8));
    }

    void layoutMovesWithDisplayAndWidth()
    {
        const LayoutFrame design{10875, 8415, 105, 1380};
        LayoutFrame taller = design;
        taller.ledHeight += 200;
        LayoutFrame wider = design;
        wider.clientWidth += 300;
        QCOMPARE(buttonPosition(taller, 4, 0, 0).top, buttonPosition(design, 4, 0, 0).top + 100);
        QCOMPARE(buttonPosition(wider, 4, 0, 0).left, buttonPosition(design, 4, 0, 0).left + 150);
        // The pitch is the edge: flush grid.
        QCOMPARE(buttonPosition(design, 5, 2, 3).left - buttonPosition(design, 5, 2, 2).left, 1110.0f);
    }

    void twipsToPixelsRoundsToNearest()
    {
        QCOMPARE(twipsToPixels(1200), 80);
        QCOMPARE(twipsToPixels(3037.5), 202); // 202.5 goes to the even pixel
        QCOMPARE(twipsToPixels(2662.5), 178); // 177.5
        QCOMPARE(twipsToPixels(-15), -1);
    }

    void clockTicks()
    {
        ClockNeedles needles;
        int timeCount = 0;
        auto tick = [&] {
            const ClockTick t = clockTick(needles);
            if (t.cycleCompleted)
                ++timeCount;
            if (t.slowWritten)
                needles.slow = t.slow;
            if (t.middleWritten)
                needles.middle = t.middle;
            needles.fast = t.fast;
        };
        for (int i = 1; i <= 5856; ++i) {
            tick();
            if (i == 15) {
                QCOMPARE(needles.fast, 15.0);
                QCOMPARE(timeCount, 0);
            }
            if (i == 16) {
                QCOMPARE(needles.fast, 0.0);
                QCOMPARE(needles.middle, 1.0);
                QCOMPARE(timeCount, 1);
            }
            if (i >= 960 && i < 976)
                QCOMPARE(needles.middle, 60.0);
            if (i == 976) {
                QCOMPARE(needles.middle, 0.0);
                QCOMPARE(needles.slow, 1.0);
                QCOMPARE(timeCount, 61);
            }
        }
        QCOMPARE(needles.slow, 0.0);
        QCOMPARE(needles.middle, 0.0);
        QCOMPARE(needles.fast, 0.0);
        QCOMPARE(timeCount, 366);
    }

    void clockReadsNeedlesAsNearestWhole()
    {
        const ClockTick t = clockTick({59.6, 15.4, 4.5});
        QVERIFY(t.cycleCompleted);
        QCOMPARE(t.middle, 0); // 59.6 reads as 60, and 61 wraps
        QCOMPARE(t.slow, 5); // 4.5 reads as 4
    }

    void pauseWaitsAtLeastAndSkipsNonPositive()
    {
        using clock = std::chrono::steady_clock;
        auto t0 = clock::now();
        Module1::Pause(0.0f);
        Module1::Pause(-1.0f);
        QVERIFY(clock::now() - t0 < std::chrono::milliseconds(50));
        t0 = clock::now();
        Module1::Pause(0.06f);
        QVERIFY(clock::now() - t0 >= std::chrono::milliseconds(59));
    }

    void gameStateClearsAndResets()
    {
        Module1::BoardSize = 6;
        Module1::HitCount[3] = 2;
        Module1::ClickHistory[1] = 3;
        Module1::ClickTotal = Module1::ClickCount = 1;
        Module1::TimeCount = 9;
        Module1::Score = FixedPoint::fromInt(5);
        Module1::clearGame();
        QCOMPARE(Module1::HitCount[3], 0);
        QCOMPARE(Module1::ClickHistory[1], 0);
        QCOMPARE(Module1::ClickTotal + Module1::ClickCount + Module1::TimeCount, 0);
        QCOMPARE(Module1::BoardSize, 6);
        QCOMPARE(Module1::Score.raw(), 50000);
        QCOMPARE(Module1::MaxClicks(), 144);
        Module1::resetAll();
        QCOMPARE(Module1::BoardSize, 0);
        QCOMPARE(Module1::Score.raw(), 0);
    }
};

QTEST_APPLESS_MAIN(TestGame)
#include "test_game.moc"
