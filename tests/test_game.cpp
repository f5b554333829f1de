// The toolkit-free game core: score type, scoring, layout arithmetic, game clock, delay.

#include <QtTest>

// moc cannot parse the C++20 standard headers these pull in, and needs none of them.
#ifndef Q_MOC_RUN
#include "game/boardlayout.h"
#include "game/delay.h"
#include "game/fixedpoint.h"
#include "game/gameclock.h"
#include "game/gamestate.h"
#include "game/replay.h"
#include "game/scoring.h"
#include "gamesupport.h"

#include <chrono>
#include <cmath>
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
        QCOMPARE(toInt32HalfEven(std::nan("")), 0);
        QCOMPARE(toInt32HalfEven(-std::nan("")), 0);
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

    void scoringExamples_data()
    {
        QTest::addColumn<QList<int>>("history");
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("cycles");
        QTest::addColumn<qint64>("raw");
        // The first click of any game on any board.
        for (int n = 4; n <= 7; ++n)
            QTest::addRow("first click, %dx%d", n, n) << QList<int>{n * n - 1} << n << 0 << qint64(25000);
        // Buttons 0, 1, 2, 3 in order while the clock has not completed a cycle.
        QTest::newRow("0") << QList<int>{0} << 4 << 0 << qint64(25000);
        QTest::newRow("0 1") << QList<int>{0, 1} << 4 << 0 << qint64(49219);
        QTest::newRow("0 1 2") << QList<int>{0, 1, 2} << 4 << 0 << qint64(71521);
        QTest::newRow("0 1 2 3") << QList<int>{0, 1, 2, 3} << 4 << 0 << qint64(92334);
        // Button 5 twice: a forward run of 1 and a mirrored run of 2.
        QTest::newRow("5 5") << QList<int>{5, 5} << 4 << 0 << qint64(172266);
        // 0, 5, 0, 5 without and with the speed blend.
        QTest::newRow("0 5 0 5") << QList<int>{0, 5, 0, 5} << 4 << 0 << qint64(623254);
        QTest::newRow("0 5 0 5, 3 cycles") << QList<int>{0, 5, 0, 5} << 4 << 3 << qint64(685580);
        // A step of N + 2 is not near, a step of N + 1 is (4 x 4 board).
        QTest::newRow("step N+2") << QList<int>{0, 6} << 4 << 0 << qint64(50000);
        QTest::newRow("step N+1") << QList<int>{0, 5} << 4 << 0 << qint64(49219);
        QTest::newRow("step N+2 back") << QList<int>{6, 0} << 4 << 0 << qint64(50000);
        QTest::newRow("no clicks") << QList<int>{} << 4 << 0 << qint64(0);
        // Falling straight triples count only when strictly falling: 7, 7 breaks the run twice.
        QTest::newRow("falling with a repeat") << QList<int>{13, 11, 9, 7, 7, 5} << 4 << 0 << qint64(245593);
    }

    void scoringExamples()
    {
        QFETCH(QList<int>, history);
        QFETCH(int, board);
        QFETCH(int, cycles);
        QFETCH(qint64, raw);
        QCOMPARE(scoreRaw(std::vector<std::int32_t>(history.begin(), history.end()), board, cycles), raw);
    }

    void mirroredScanRunsPastTheMiddle()
    {
        // 3, 7, 3: forward (1,3) gives L = 1; mirrored (1,3) gives L = 3, so the base is
        // 10 * (3 + 1 + 9) = 130. Both steps are near (4 < 6); no triple, and 2/3 > 0 raises the
        // count to round(1) = 1.
        const double afterNear = 130.0 * (62.0 / 64.0);
        const double afterTriples = FixedPoint::fromDouble(afterNear).toDouble() * (63.0 / 64.0);
        const double expected = FixedPoint::fromDouble(FixedPoint::fromDouble(afterTriples).toDouble() / 4).toDouble();
        QCOMPARE(computeScore(std::vector<std::int32_t>{3, 7, 3}, 4, 0).toDouble(), expected);
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
        blockingDelay(0.0f);
        blockingDelay(-1.0f);
        QVERIFY(clock::now() - t0 < std::chrono::milliseconds(50));
        t0 = clock::now();
        blockingDelay(0.06f);
        QVERIFY(clock::now() - t0 >= std::chrono::milliseconds(59));
    }

    void gameStateFollowsAGame()
    {
        GameState g;
        QCOMPARE(g.boardSize(), 4);
        g.setBoardSize(6);
        QCOMPARE(g.maxClicks(), 144);
        QVERIFY(!g.hasStarted());
        // Tiles beyond the board, and negative ones, take no click.
        QVERIFY(!g.isClickable(36));
        QVERIFY(!g.isClickable(-1));
        QCOMPARE(g.addHit(36), 0);
        QCOMPARE(g.addHit(3), 1);
        QCOMPARE(g.recordClick(3).raw(), 25000);
        QVERIFY(!g.finishClick());
        QVERIFY(g.hasStarted());
        // A tile takes four clicks, then no more.
        for (int k = 2; k <= 4; ++k) {
            QCOMPARE(g.addHit(3), k);
            g.recordClick(3);
            g.finishClick();
        }
        QVERIFY(!g.isClickable(3));
        QCOMPARE(g.addHit(3), 4);
        QCOMPARE(g.history(), (std::vector<std::int32_t>{3, 3, 3, 3}));
        g.addClockCycle();
        QCOMPARE(g.clockCycles(), 1);
        const FixedPoint last = g.score();
        g.clear();
        QCOMPARE(g.hitCount(3), 0);
        QVERIFY(g.history().empty());
        QCOMPARE(g.clickCount() + g.clockCycles(), 0);
        QCOMPARE(g.boardSize(), 6);
        QCOMPARE(g.score(), last); // kept until the next click recomputes it
        // Sizes outside the knob's range are brought into it.
        g.setBoardSize(9);
        QCOMPARE(g.boardSize(), 7);
        g.setBoardSize(0);
        QCOMPARE(g.boardSize(), 4);
    }

    void gameCompletesExactlyAtTheLastClick()
    {
        GameState g;
        int completedAt = 0;
        for (int tile = 0; tile < 16; ++tile) {
            for (int k = 0; k < 4; ++k) {
                g.addHit(tile);
                g.recordClick(tile);
                if (g.finishClick())
                    completedAt = g.clickCount();
            }
        }
        QCOMPARE(completedAt, 64);
        QCOMPARE(g.score().raw(), 630000); // the floor: 63 earlier clicks
    }

    void replaysAreVerified_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<int>("verdict");
        const auto v = [](ReplayVerdict r) { return int(r); };
        QTest::newRow("as played") << "" << v(ReplayVerdict::Verified);
        QTest::newRow("one click changed") << "change" << v(ReplayVerdict::ScoreMismatch);
        QTest::newRow("cycles inflated, no clock per click") << "cycles" << v(ReplayVerdict::ScoreMismatch);
        QTest::newRow("no clock per click, as played") << "old" << v(ReplayVerdict::Verified);
        QTest::newRow("last click's clock past the game clock") << "last past" << v(ReplayVerdict::BadClickCycles);
        QTest::newRow("a click's clock going back") << "decrease" << v(ReplayVerdict::BadClickCycles);
        QTest::newRow("a clock per click missing") << "short" << v(ReplayVerdict::BadClickCycles);
        QTest::newRow("a negative clock at the first click") << "first negative" << v(ReplayVerdict::BadClickCycles);
        QTest::newRow("a 4 x 4 game played to its end") << "full" << v(ReplayVerdict::Verified);
        QTest::newRow("score claimed one higher") << "claim" << v(ReplayVerdict::ScoreMismatch);
        QTest::newRow("a tile clicked five times") << "fifth" << v(ReplayVerdict::TileClickedTooOften);
        QTest::newRow("an index off the board") << "off" << v(ReplayVerdict::TileOffBoard);
        QTest::newRow("a negative index") << "negative" << v(ReplayVerdict::TileOffBoard);
        QTest::newRow("more clicks than a game has") << "many" << v(ReplayVerdict::TooManyClicks);
        QTest::newRow("board of 8") << "board" << v(ReplayVerdict::BadBoardSize);
        QTest::newRow("negative cycles") << "clock" << v(ReplayVerdict::ImplausibleClock);
        QTest::newRow("no clicks") << "empty" << v(ReplayVerdict::NoClicks);
        QTest::newRow("a 7 x 7 game as played") << "seven" << v(ReplayVerdict::Verified);
        QTest::newRow("a 7 x 7 game, a tile off its board") << "seven off" << v(ReplayVerdict::TileOffBoard);
    }

    void replaysAreVerified()
    {
        QFETCH(QString, tamper);
        QFETCH(int, verdict);
        // A 4 x 4 game as the playing field records it: 20 clicks, one clock cycle on the way;
        // or a 7 x 7 game reaching its last tile.
        const GameState g = tamper.startsWith(QLatin1String("seven")) ? [] {
            GameState seven;
            seven.setBoardSize(7);
            for (int tile : {48, 0, 47, 6, 42}) {
                for (int k = 0; k < 4; ++k) {
                    seven.addHit(tile);
                    seven.recordClick(tile);
                    seven.finishClick();
                }
                seven.addClockCycle();
            }
            return seven;
        }() : test::playedGame(tamper == QLatin1String("full") ? 16 : 5);
        GameReplay r = g.replay();
        QCOMPARE(r.clickCycles.size(), r.clicks.size());
        QCOMPARE(r.score(), g.score());
        std::int64_t claimed = toInt32HalfEven(g.score().toDouble());
        if (tamper == QLatin1String("change"))
            r.clicks[7] = 9;
        else if (tamper == QLatin1String("cycles"))
            r.clockCycles = 400, r.clickCycles.clear();
        else if (tamper == QLatin1String("old"))
            r.clickCycles.clear();
        else if (tamper == QLatin1String("last past"))
            r.clickCycles.back() = r.clockCycles + 1;
        else if (tamper == QLatin1String("decrease"))
            r.clickCycles[12] = r.clickCycles[11] - 1; // the cycle falls after click 8
        else if (tamper == QLatin1String("short"))
            r.clickCycles.pop_back();
        else if (tamper == QLatin1String("first negative"))
            r.clickCycles.front() = -1;
        else if (tamper == QLatin1String("claim"))
            ++claimed;
        else if (tamper == QLatin1String("fifth"))
            r.clicks.push_back(0);
        else if (tamper == QLatin1String("off"))
            r.clicks[3] = 16;
        else if (tamper == QLatin1String("negative"))
            r.clicks[3] = -1;
        else if (tamper == QLatin1String("many"))
            r.clicks.assign(65, 1);
        else if (tamper == QLatin1String("board"))
            r.boardSize = 8;
        else if (tamper == QLatin1String("clock"))
            r.clockCycles = -1;
        else if (tamper == QLatin1String("empty"))
            r.clicks.clear();
        else if (tamper == QLatin1String("seven off"))
            r.clicks[5] = 49;
        QCOMPARE(int(verifyReplay(r, claimed)), verdict);
    }

    // The ZQ after each click of a replay is the one the game showed after that click, with the
    // clock running between clicks; without per-click clocks only the last one is exact.
    void replayGivesTheZqOfEveryClick()
    {
        GameState g;
        g.setBoardSize(6);
        std::vector<FixedPoint> shown;
        for (int i = 0; i < 6 * 6 * 4; ++i) {
            const int tile = (i * 7) % 36;
            if (!g.isClickable(tile))
                continue;
            if (i % 5 == 0)
                g.addClockCycle();
            g.addHit(tile);
            shown.push_back(g.recordClick(tile));
            g.finishClick();
        }
        GameReplay r = g.replay();
        QCOMPARE(scoresAfterEachClick(r), shown);
        r.clickCycles.clear();
        QCOMPARE(scoresAfterEachClick(r).back(), shown.back());
        QCOMPARE(r.cyclesAtClick(0), 0);
    }
};

QTEST_APPLESS_MAIN(TestGame)
#include "test_game.moc"
