// The start, help, about and playing field windows: catalogue, navigation, game control,
// click animation and the end of a game.

#include "testsupport.h"

#include "app/datadir.h"
#include "app/frmabout.h"
#include "app/frmhelp.h"
#include "app/frmstart.h"
#include "app/shell.h"
#include "game/frmgame.h"
#include "ui/analoggauge.h"
#include "ui/knob.h"
#include "ui/numled.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/twips.h"

#include <QLabel>
#include <QtTest>

#ifndef Q_MOC_RUN
#include "game/module1.h"
#endif

using namespace zimble;
using namespace zimble::ui;

namespace {

struct Frame {
    QString control;
    QRectF twips;
};

// The program asked every event loop to end; the next test needs working loops again.
// QCoreApplication::exec() clears that request when it returns.
void clearQuitRequest()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

QRect px(int l, int t, int w, int h)
{
    return twipsToPixelRect(QRectF(l, t, w, h));
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_messages;

    // A playing field that draws no real delays and records frames and summaries.
    struct Field {
        frmGame game;
        QList<Frame> frames;
        QList<double> summaries; // the LED value each time the summary window would open
        Field()
        {
            game.pause = [](float) {};
            game.frameObserver = [this](const QWidget* w, const QRectF& r) { frames.append({w->objectName(), r}); };
            game.showSummary = [this] { summaries.append(game.LED->value()); };
        }
        void click(int index) { game.BB(index)->click(); }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(test::copyPictures(m_dir.path()));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        setMessageHook([this](QWidget*, const QString& text) { m_messages.append(text); });
    }

    void init()
    {
        Module1::resetAll();
        m_messages.clear();
    }

    void startWindowCatalogue()
    {
        frmStart w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Zimble Startup"));
        QCOMPARE(w.size(), QSize(479, 492));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(255, 224, 192));
        const QString goal = w.SSPanel1->caption();
        QCOMPARE(goal, QStringLiteral("The Goal of Zimble is simple. Get the highest Zimble Quotient (ZQ) that you can. "
                                      "The tough part is figuring out the rules. You have to do this on your own "
                                      "because there are no explanations."));
        QVERIFY(!goal.contains(QLatin1Char('\n')));
        QCOMPARE(w.Picture1->pixmap().size(), QSize(414, 314));
        QCOMPARE(w.Picture1->geometry(), px(450, 60, 6210, 4710));
        QCOMPARE(w.SSPanel1->geometry(), px(1155, 4950, 4785, 1005));

        struct B { const char* name; const char* caption; QRect geom; };
        const B buttons[] = {{"cmdHelp(1)", "&Help", px(300, 6240, 1200, 390)},
                             {"cmdAbout(0)", "&About", px(1635, 6240, 1200, 390)},
                             {"cmdWeb(0)", "&Web Page", px(4290, 6240, 1200, 390)},
                             {"cmdExit(0)", "E&xit", px(5625, 6240, 1200, 390)},
                             {"cmdCustTray", "&Enter the Playing Field", px(2310, 6825, 2490, 390)}};
        for (const B& b : buttons) {
            auto* button = w.findChild<ThreeDButton*>(QLatin1String(b.name));
            QVERIFY2(button, b.name);
            QCOMPARE(button->text(), QLatin1String(b.caption));
            QCOMPARE(button->geometry(), b.geom);
            QVERIFY(button->font().bold());
            QVERIFY(!button->picture().isNull());
        }
        QCOMPARE(w.cmdCustTray->picture().size(), QSize(167, 26));
        QCOMPARE(w.cmdExit(0)->picture().size(), QSize(76, 26));
        // Tab order: Exit, Web Page, Enter, Help, About.
        QCOMPARE(w.cmdExit(0)->nextInFocusChain(), w.cmdWeb(0));
        QCOMPARE(w.cmdWeb(0)->nextInFocusChain(), w.cmdCustTray);
        QCOMPARE(w.cmdCustTray->nextInFocusChain(), w.cmdHelp(1));
        QCOMPARE(w.cmdHelp(1)->nextInFocusChain(), w.cmdAbout(0));
        QVERIFY(!w.windowIcon().isNull());
    }

    void dataDirRule_data()
    {
        QTest::addColumn<QString>("exeDir");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("exact") << "G:\\TESSA" << "g:\\TESSA\\";
        QTest::newRow("lower case") << "g:\\tessa" << "g:\\TESSA\\";
        QTest::newRow("mixed case") << "G:\\Tessa" << "g:\\TESSA\\";
        QTest::newRow("subdirectory") << "G:\\TESSA\\BIN" << "";
        QTest::newRow("other drive") << "H:\\TESSA" << "";
        QTest::newRow("longer name") << "G:\\TESSA2" << "";
        QTest::newRow("unix path") << "/usr/lib/zimble" << "";
        QTest::newRow("empty") << "" << "";
    }

    void dataDirRule()
    {
        QFETCH(QString, exeDir);
        QFETCH(QString, prefix);
        const DataDirChoice choice = developmentDataDir(exeDir);
        QCOMPARE(choice.prefix, prefix);
        QCOMPARE(choice.directory.isEmpty(), prefix.isEmpty());
    }

    void startWindowLeavesDataDirEmptyHere()
    {
        frmStart w;
        QVERIFY(Module1::DataDir.empty());
        QCOMPARE(QDir::currentPath(), QDir(m_dir.path()).canonicalPath());
    }

    void helpButtonRemovedAfterExit()
    {
        frmStart w;
        w.show();
        test::onNextModal([](QWidget* modal) {
            QCOMPARE(modal->windowTitle(), QStringLiteral("Zimble Help"));
            auto* help = qobject_cast<frmHelp*>(modal);
            QVERIFY(help);
            QCOMPARE(help->SSPanel1->caption(),
                     QStringLiteral("There is no Help. You are on your own. The Help button will now be removed."));
            QCOMPARE(help->size(), QSize(312, 206));
            help->cmdExit(0)->click();
        }, &w);
        w.cmdHelp(1)->click();
        QVERIFY(!w.cmdHelp(1)->isVisible());
        // The other buttons keep their places.
        QCOMPARE(w.cmdAbout(0)->geometry(), px(1635, 6240, 1200, 390));
        QCOMPARE(w.cmdCustTray->geometry(), px(2310, 6825, 2490, 390));
    }

    void helpButtonRemovedAfterCloseBox()
    {
        frmStart w;
        w.show();
        test::onNextModal([](QWidget* modal) { modal->close(); }, &w);
        w.cmdHelp(1)->click();
        QVERIFY(w.cmdHelp(1)->isHidden());
    }

    void aboutShownRepeatedly()
    {
        frmStart w;
        w.show();
        for (int round = 0; round < 3; ++round) {
            QString title, copyright, web, support;
            test::onNextModal([&](QWidget* modal) {
                auto* about = qobject_cast<frmAbout*>(modal);
                QVERIFY(about);
                title = about->windowTitle();
                copyright = about->Panel3D1->caption();
                web = about->SSPanel1(0)->caption();
                support = about->SSPanel1(1)->caption();
                QCOMPARE(about->command1->parentWidget(), about->pnltour(0));
                QCOMPARE(about->Picture1->geometry(), px(210, 105, 480, 480));
                if (round == 1)
                    about->close();
                else
                    about->command1->click();
            }, &w);
            w.cmdAbout(0)->click();
            QCOMPARE(title, QStringLiteral("About Zimble"));
            QVERIFY(copyright.contains(QStringLiteral("Zimble developers")));
            QCOMPARE(web, productPage());
            QVERIFY(support.contains(QLatin1Char('@')));
        }
        QVERIFY(w.cmdHelp(1)->isVisible());
    }

    void playingFieldOpensModallyFromStart()
    {
        frmStart w;
        w.show();
        QString title;
        bool startBlocked = false;
        test::onNextModal([&](QWidget* modal) {
            title = modal->windowTitle();
            startBlocked = !w.isEnabled() || QApplication::activeModalWidget() == modal;
            modal->close();
        }, &w);
        w.cmdCustTray->click();
        QCOMPARE(title, QStringLiteral("Zimble Playing Field"));
        QVERIFY(startBlocked);
        QCOMPARE(Module1::BoardSize, 4);
    }

    void playingFieldCatalogue()
    {
        Field f;
        frmGame& g = f.game;
        QCOMPARE(g.windowTitle(), QStringLiteral("Zimble Playing Field"));
        QCOMPARE(g.size(), QSize(725, 561));
        QCOMPARE(g.LED->geometry(), px(675, 105, 9585, 1380));
        QCOMPARE(g.BB.count(), 49);
        QCOMPARE(g.Knob2(10)->geometry(), px(9030, 6465, 1725, 1845));
        QCOMPARE(g.Knob2(10)->minimum(), 4.0);
        QCOMPARE(g.Knob2(10)->maximum(), 7.0);
        QCOMPARE(g.SSReset->geometry(), px(9060, 6570, 1650, 1650));
        QCOMPARE(g.SSReset->picture().size(), QSize(106, 106));
        QVERIFY(g.SSReset->isHidden());
        QCOMPARE(g.AGauge6->geometry(), px(-15, 6540, 2025, 1830));
        QCOMPARE(g.AGauge6->needleCount(), 3);
        QCOMPARE(g.Timer1->interval(), 50);
        QVERIFY(!g.Timer1->isActive());
        QVERIFY(g.XX->isHidden());
        // Tab order: BB(0)..BB(5), then the knob, then BB(6).
        QCOMPARE(g.BB(5)->nextInFocusChain(), g.Knob2(10));
        QCOMPARE(g.Knob2(10)->nextInFocusChain(), g.BB(6));
    }

    void layoutFollowsTheKnob()
    {
        Field f;
        frmGame& g = f.game;
        QCOMPARE(Module1::BoardSize, 4);
        QCOMPARE(twipGeometry(g.BB(0)), QRectF(3037.5, 2550, 1200, 1200));
        g.Knob2(10)->setKnobValue(7);
        QCOMPARE(Module1::BoardSize, 7);
        for (int i = 0; i < 49; ++i)
            QVERIFY(!g.BB(i)->isHidden());
        const QRectF last = twipGeometry(g.BB(48));
        QCOMPARE(last.right(), 8797.5);
        QCOMPARE(last.bottom(), 8310.0);
        g.Knob2(10)->setKnobValue(5);
        QCOMPARE(twipGeometry(g.BB(13)), QRectF(2662.5 + 3 * 1110, 2175 + 2 * 1110, 1110, 1110));
        g.Knob2(10)->setKnobValue(4);
        for (int i = 0; i < 49; ++i) {
            QCOMPARE(g.BB(i)->isHidden(), i >= 16);
            QCOMPARE(twipGeometry(g.BB(i)).size(), QSizeF(1200, 1200));
            QCOMPARE(g.BB(i)->backColor(), QColor(Qt::black));
            QVERIFY(g.BB(i)->picture().isNull());
        }
        // Pixels: the grid is flush, every button 80 px, edges shared.
        QCOMPARE(g.BB(1)->geometry().left(), g.BB(0)->geometry().right() + 1);
        QCOMPARE(Module1::ClickCount + Module1::ClickTotal, 0);
    }

    void knobRoundsHalfToEven()
    {
        Field f;
        const struct { double value; int size; } cases[] = {{4.5, 4}, {5.5, 6}, {6.49, 6}, {6.5, 6}, {5.2, 5}, {9, 7}, {1, 4}};
        for (const auto& c : cases) {
            f.game.Knob2(10)->setKnobValue(c.value == 4.5 ? 4.6 : 4.4); // make sure a change happens
            f.game.Knob2(10)->setKnobValue(c.value);
            QCOMPARE(Module1::BoardSize, c.size);
        }
    }

    void knobTurnsWithKeys()
    {
        Field f;
        Knob* knob = f.game.Knob2(10);
        QTest::keyClick(knob, Qt::Key_Right);
        QCOMPARE(Module1::BoardSize, 5);
        QTest::keyClick(knob, Qt::Key_End);
        QCOMPARE(Module1::BoardSize, 7);
        QTest::keyClick(knob, Qt::Key_Right);
        QCOMPARE(Module1::BoardSize, 7);
        QTest::keyClick(knob, Qt::Key_Down);
        QCOMPARE(Module1::BoardSize, 6);
    }

    void clockTicksMoveTheNeedles()
    {
        Field f;
        frmGame& g = f.game;
        auto needle = [&](int i) {
            g.AGauge6->setNeedleIndex(i);
            return g.AGauge6->needleValue();
        };
        for (int i = 0; i < 15; ++i)
            g.Timer1_Timer();
        QCOMPARE(needle(1), 15.0);
        QCOMPARE(Module1::TimeCount, 0);
        g.Timer1_Timer();
        QCOMPARE(needle(1), 0.0);
        QCOMPARE(needle(0), 1.0);
        QCOMPARE(Module1::TimeCount, 1);
        for (int i = 16; i < 976; ++i)
            g.Timer1_Timer();
        QCOMPARE(needle(0), 0.0);
        QCOMPARE(needle(2), 1.0);
        QCOMPARE(Module1::TimeCount, 61);
    }

    void ticksDuringAClickAreNotMadeUp()
    {
        Field f;
        f.game.pause = [](float seconds) { Module1::Pause(seconds); }; // the real 0.6 s of animation
        f.game.show();
        f.click(0); // starts the 50 ms clock, then holds the thread for ten frames
        QTest::qWait(20);
        f.game.AGauge6->setNeedleIndex(1);
        // About twelve ticks fell due during the click; at most one is delivered afterwards.
        QVERIFY2(f.game.AGauge6->needleValue() <= 1.0, qPrintable(QString::number(f.game.AGauge6->needleValue())));
        f.game.Timer1->stop();
    }

    void firstClickStartsTheGame()
    {
        Field f;
        frmGame& g = f.game;
        f.click(0);
        QVERIFY(g.Timer1->isActive());
        QVERIFY(g.Knob2(10)->isHidden());
        QVERIFY(!g.SSReset->isHidden());
        QCOMPARE(Module1::HitCount[0], 1);
        QCOMPARE(Module1::ClickCount, 1);
        QCOMPARE(g.LED->value(), 2.5);
        // Only the first click switches the timer on.
        g.Timer1->stop();
        f.click(1);
        QVERIFY(!g.Timer1->isActive());
        // Every click hides the knob and shows the reset button.
        g.Knob2(10)->setVisible(true);
        g.SSReset->setVisible(false);
        f.click(2);
        QVERIFY(g.Knob2(10)->isHidden());
        QVERIFY(!g.SSReset->isHidden());
    }

    void resetDuringPlay()
    {
        Field f;
        frmGame& g = f.game;
        g.Knob2(10)->setKnobValue(5);
        f.click(3);
        f.click(3);
        for (int i = 0; i < 20; ++i)
            g.Timer1_Timer();
        g.SSReset->click();
        QVERIFY(!g.Timer1->isActive());
        for (int i = 0; i < 3; ++i) {
            g.AGauge6->setNeedleIndex(i);
            QCOMPARE(g.AGauge6->needleValue(), 0.0);
        }
        QCOMPARE(g.LED->value(), 0.0);
        QVERIFY(!g.Knob2(10)->isHidden());
        QVERIFY(g.SSReset->isHidden());
        QVERIFY(g.BB(3)->picture().isNull());
        QCOMPARE(Module1::BoardSize, 5);
        QCOMPARE(Module1::ClickCount + Module1::ClickTotal + Module1::TimeCount + Module1::HitCount[3], 0);
        QCOMPARE(Module1::ClickHistory[1], 0);
        QVERIFY(f.summaries.isEmpty());
        // A click after the reset is again a first click.
        f.click(0);
        QVERIFY(g.Timer1->isActive());
        QCOMPARE(g.LED->value(), 2.5);
    }

    void picturesFollowTheClicks()
    {
        QCOMPARE(frmGame::pictureName(2), QStringLiteral("tessa2.jpg"));
        Module1::DataDir = "g:\\TESSA\\";
        QCOMPARE(frmGame::pictureName(3), QStringLiteral("g:\\TESSA\\tessa3.jpg"));
        Module1::DataDir.clear();

        Field f;
        const QImage second = QImage(QStringLiteral("tessa2.jpg")).convertToFormat(QImage::Format_RGB32);
        f.click(6);
        f.click(6);
        QCOMPARE(f.game.BB(6)->picture().toImage().convertToFormat(QImage::Format_RGB32), second);
        QVERIFY(f.game.XX->isHidden());
    }

    void revealAnimationFrames()
    {
        for (int n : {4, 7}) {
            Field f;
            f.game.Knob2(10)->setKnobValue(n);
            const QRectF button = twipGeometry(f.game.BB(0));
            f.click(0);
            QCOMPARE(f.frames.size(), 10);
            for (int i = 0; i < 10; ++i) {
                const double k = 540 - 60 * i;
                const double s = 60 + 120 * i;
                QCOMPARE(f.frames[i].control, QStringLiteral("XX"));
                QCOMPARE(f.frames[i].twips, QRectF(button.left() + k, button.top() + k, s, s));
            }
            QCOMPARE(f.frames.last().twips.size(), QSizeF(1140, 1140));
            QCOMPARE(f.game.XX->backColor(), QColor(Qt::white));
        }
    }

    void shrinkAnimationFrames()
    {
        for (int n : {4, 6}) {
            Field f;
            f.game.Knob2(10)->setKnobValue(n);
            const QRectF button = twipGeometry(f.game.BB(1));
            for (int i = 0; i < 3; ++i)
                f.click(1);
            f.frames.clear();
            f.click(1);
            QCOMPARE(f.frames.size(), 10);
            const double L0 = qRound(button.left() / 2) * 2 == button.left() ? button.left() : std::nearbyint(button.left());
            const double T0 = std::nearbyint(button.top());
            for (int i = 0; i < 10; ++i) {
                const double k = 60 * i;
                QCOMPARE(f.frames[i].control, QStringLiteral("BB(1)"));
                QCOMPARE(f.frames[i].twips, QRectF(L0 + k, T0 + k, 1200 - 120 * i, 1200 - 120 * i));
            }
            QVERIFY(f.game.BB(1)->isHidden());
            QVERIFY(f.game.XX->isHidden());
            QCOMPARE(f.game.XX->backColor(), QColor(Qt::black));
            // A fifth click on a hidden button does nothing.
            f.game.BB_Click(1);
            QCOMPARE(Module1::HitCount[1], 4);
            // The next layout brings it back.
            f.game.DoReset();
            QVERIFY(!f.game.BB(1)->isHidden());
            QCOMPARE(twipGeometry(f.game.BB(1)), button);
        }
    }

    void gameEndsExactlyAtTheLastClick()
    {
        for (int n = 4; n <= 7; ++n) {
            Field f;
            f.game.Knob2(10)->setKnobValue(n);
            const int M = 4 * n * n;
            int clicks = 0;
            for (int b = 0; b < n * n; ++b) {
                for (int k = 0; k < 4; ++k) {
                    f.click(b);
                    ++clicks;
                    if (clicks == M - 1) {
                        QVERIFY(f.summaries.isEmpty());
                        QVERIFY(f.game.Timer1->isActive());
                    }
                }
            }
            QCOMPARE(f.summaries.size(), 1);
            QCOMPARE(f.summaries.first(), double(M - 1)); // the floor: c at the last click
            // After the summary the field is reset for the same board size.
            QVERIFY(!f.game.Timer1->isActive());
            QCOMPARE(f.game.LED->value(), 0.0);
            QCOMPARE(Module1::ClickCount, 0);
            QCOMPARE(Module1::BoardSize, n);
            QVERIFY(!f.game.BB(n * n - 1)->isHidden());
        }
    }

    void ctrlTEndsTheGame()
    {
        Field f;
        frmGame& g = f.game;
        g.show();
        // In Ready: the summary shows 0.
        QTest::keyClick(g.BB(0), Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(f.summaries, QList<double>{0.0});
        // In Playing: the current score, then a reset.
        f.click(0);
        f.click(1);
        QTest::keyClick(g.LED, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(f.summaries.size(), 2);
        QCOMPARE(f.summaries.last(), 4.9219);
        QVERIFY(!g.Timer1->isActive());
        QCOMPARE(Module1::ClickCount, 0);
        QCOMPARE(g.LED->value(), 0.0);
        // Other keys and control characters change nothing.
        f.click(2);
        QTest::keyClick(g.BB(3), Qt::Key_T);
        QTest::keyClick(g.BB(3), Qt::Key_R, Qt::ControlModifier);
        QTest::keyClick(g.BB(3), Qt::Key_Escape);
        QCOMPARE(f.summaries.size(), 2);
        QCOMPARE(Module1::ClickCount, 1);
        QVERIFY(g.Timer1->isActive());
    }

    void keyCharacterCodes()
    {
        QKeyEvent ctrlT(QEvent::KeyPress, Qt::Key_T, Qt::ControlModifier, QStringLiteral("\x14"));
        QCOMPARE(keyCharCode(&ctrlT), qint16(20));
        QKeyEvent ctrlTNoText(QEvent::KeyPress, Qt::Key_T, Qt::ControlModifier, QStringLiteral("t"));
        QCOMPARE(keyCharCode(&ctrlTNoText), qint16(20));
        QKeyEvent plainT(QEvent::KeyPress, Qt::Key_T, Qt::NoModifier, QStringLiteral("t"));
        QCOMPARE(keyCharCode(&plainT), qint16('t'));
        QKeyEvent altCtrlT(QEvent::KeyPress, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier, QString());
        QCOMPARE(keyCharCode(&altCtrlT), qint16(0));
    }

    void reloadingTheFieldStartsAtFour()
    {
        {
            Field f;
            f.game.Knob2(10)->setKnobValue(6);
            QCOMPARE(Module1::BoardSize, 6);
        }
        Field again;
        QCOMPARE(Module1::BoardSize, 4);
        QCOMPARE(again.game.BB(15)->isHidden(), false);
        QCOMPARE(again.game.BB(16)->isHidden(), true);
    }

    void missingPictureEndsTheProgramCleanly()
    {
        QTemporaryDir empty;
        QVERIFY(QFile::copy(QStringLiteral(ZIMBLE_ASSETS_DIR "/tessa1.jpg"), empty.filePath(QStringLiteral("tessa1.jpg"))));
        QFile broken(empty.filePath(QStringLiteral("tessa3.jpg")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture");
        broken.close();
        QVERIFY(QDir::setCurrent(empty.path()));

        QEventLoop loop;
        bool usable = true;
        QTimer::singleShot(0, [&] {
            frmGame g;
            usable = g.picturesUsable();
        });
        const int status = loop.exec();
        clearQuitRequest();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QCOMPARE(status, 1);
        QVERIFY(!usable);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(QStringLiteral("tessa2.jpg")), qPrintable(m_messages.first()));
        QVERIFY(!QFile::exists(empty.filePath(QStringLiteral("Scores.dat"))));
    }

    void unreadablePictureAtClickTime()
    {
        Field f;
        QVERIFY(QFile::rename(QStringLiteral("tessa1.jpg"), QStringLiteral("moved.jpg")));
        QEventLoop loop;
        QTimer::singleShot(0, [&] { f.click(0); });
        const int status = loop.exec();
        clearQuitRequest();
        QVERIFY(QFile::rename(QStringLiteral("moved.jpg"), QStringLiteral("tessa1.jpg")));
        QCOMPARE(status, 1);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("tessa1.jpg")));
        QCOMPARE(Module1::ClickCount, 0);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
