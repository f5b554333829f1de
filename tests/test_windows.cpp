// The start, help, about and playing field windows: catalogue, navigation, game control,
// click animation and the end of a game.

#include "testsupport.h"

#include "app/aboutwindow.h"
#include "app/datadir.h"
#include "app/helpwindow.h"
#include "app/playingfield.h"
#include "app/session.h"
#include "app/startwindow.h"
#include "app/summarywindow.h"
#include "scores/scorefile.h"
#include "game/delay.h"
#include "ui/analoggauge.h"
#include "ui/knob.h"
#include "ui/leddisplay.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/twips.h"
#include "ui/windowstyle.h"

#include <QLabel>
#include <QtTest>


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
    Session m_session;

    // A playing field that draws no real delays and records frames and summaries.
    struct Field {
        PlayingField game;
        QList<Frame> frames;
        QList<double> summaries; // the score shown each time the summary window would open
        explicit Field(Session& session)
            : game(session)
        {
            game.setFrameDelay([](float) {});
            game.setFrameObserver([this](const QWidget* w, const QRectF& r) { frames.append({w->objectName(), r}); });
            game.setSummaryPresenter([this] { summaries.append(game.scoreDisplay()->value()); });
        }
        void click(int index) { game.tile(index)->click(); }
        const GameState& state() const { return game.state(); }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(test::copyPictures(m_dir.path()));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_session.setMessageHandler([this](QWidget*, const QString& text) { m_messages.append(text); });
    }

    void init()
    {
        m_session.setDataDir(QString());
        m_messages.clear();
    }

    void startWindowCatalogue()
    {
        StartWindow w(m_session);
        QCOMPARE(w.windowTitle(), QStringLiteral("Zimble Startup"));
        QCOMPARE(w.size(), QSize(479, 492));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(255, 224, 192));
        const QString goal = w.goalPanel()->caption();
        QCOMPARE(goal, QStringLiteral("The Goal of Zimble is simple. Get the highest Zimble Quotient (ZQ) that you can. "
                                      "The tough part is figuring out the rules. You have to do this on your own "
                                      "because there are no explanations."));
        QVERIFY(!goal.contains(QLatin1Char('\n')));
        // Shown at its design size from twice as many pixels, crisp at scale 2.
        QCOMPARE(w.titlePicture()->pixmap().deviceIndependentSize(), QSizeF(414, 314));
        QVERIFY(w.titlePicture()->pixmap().width() >= 2 * 414);
        QCOMPARE(w.titlePicture()->geometry(), px(450, 60, 6210, 4710));
        QCOMPARE(w.goalPanel()->geometry(), px(1155, 4950, 4785, 1005));

        struct B { ThreeDButton* button; const char* caption; QRect geom; };
        const B buttons[] = {{w.helpButton(), "&Help", px(300, 6240, 1200, 390)},
                             {w.aboutButton(), "&About", px(1635, 6240, 1200, 390)},
                             {w.webPageButton(), "&Web Page", px(4290, 6240, 1200, 390)},
                             {w.exitButton(), "E&xit", px(5625, 6240, 1200, 390)},
                             {w.playButton(), "&Enter the Playing Field", px(2310, 6825, 2490, 390)}};
        for (const B& b : buttons) {
            ThreeDButton* button = b.button;
            QVERIFY2(button, b.caption);
            QCOMPARE(button->text(), QLatin1String(b.caption));
            QCOMPARE(button->geometry(), b.geom);
            QVERIFY(button->font().bold());
            QVERIFY(!button->picture().isNull());
        }
        QCOMPARE(w.playButton()->picture().size(), QSize(167, 26));
        QCOMPARE(w.exitButton()->picture().size(), QSize(76, 26));
        // Tab order: Exit, Web Page, Enter, Help, About.
        QCOMPARE(w.exitButton()->nextInFocusChain(), w.webPageButton());
        QCOMPARE(w.webPageButton()->nextInFocusChain(), w.playButton());
        QCOMPARE(w.playButton()->nextInFocusChain(), w.helpButton());
        QCOMPARE(w.helpButton()->nextInFocusChain(), w.aboutButton());
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
        StartWindow w(m_session);
        QVERIFY(m_session.dataDir().isEmpty());
        QCOMPARE(QDir::currentPath(), QDir(m_dir.path()).canonicalPath());
    }

    void helpButtonRemovedAfterExit()
    {
        StartWindow w(m_session);
        w.show();
        test::onNextModal([](QWidget* modal) {
            QCOMPARE(modal->windowTitle(), QStringLiteral("Zimble Help"));
            auto* help = qobject_cast<HelpWindow*>(modal);
            QVERIFY(help);
            QCOMPARE(help->messagePanel()->caption(),
                     QStringLiteral("There is no Help. You are on your own. The Help button will now be removed."));
            QCOMPARE(help->size(), QSize(312, 206));
            help->exitButton()->click();
        }, &w);
        w.helpButton()->click();
        QVERIFY(!w.helpButton()->isVisible());
        // The other buttons keep their places.
        QCOMPARE(w.aboutButton()->geometry(), px(1635, 6240, 1200, 390));
        QCOMPARE(w.playButton()->geometry(), px(2310, 6825, 2490, 390));
    }

    void helpButtonRemovedAfterCloseBox()
    {
        StartWindow w(m_session);
        w.show();
        test::onNextModal([](QWidget* modal) { modal->close(); }, &w);
        w.helpButton()->click();
        QVERIFY(w.helpButton()->isHidden());
    }

    void aboutShownRepeatedly()
    {
        StartWindow w(m_session);
        w.show();
        for (int round = 0; round < 3; ++round) {
            QString title, copyright, web, support;
            test::onNextModal([&](QWidget* modal) {
                auto* about = qobject_cast<AboutWindow*>(modal);
                QVERIFY(about);
                title = about->windowTitle();
                copyright = about->copyrightPanel()->caption();
                web = about->webAddressPanel()->caption();
                support = about->supportPanel()->caption();
                QCOMPARE(about->exitButton()->parentWidget(), about->container());
                QCOMPARE(about->iconPicture()->geometry(), px(210, 105, 480, 480));
                // The two addresses read cleanly: apart, inside the window, on one line with room to spare.
                ThreeDPanel* const addresses[] = {about->supportPanel(), about->webAddressPanel()};
                QVERIFY(!addresses[0]->geometry().intersects(addresses[1]->geometry()));
                for (ThreeDPanel* p : addresses) {
                    QVERIFY(about->container()->rect().contains(p->geometry()));
                    QVERIFY(!p->geometry().intersects(about->exitButton()->geometry()));
                    const QFontMetrics fm(p->font());
                    QVERIFY2(fm.horizontalAdvance(p->caption()) + 2 * (p->bevelWidth() + 6) <= p->width(), qPrintable(p->caption()));
                    QVERIFY(fm.height() + 2 * p->bevelWidth() + 2 <= p->height());
                }
                if (round == 1) {
                    about->close();
                } else if (round == 2) {
                    // From the keyboard: the Exit button has the focus, and Enter presses it.
                    QCOMPARE(about->focusWidget(), about->exitButton());
                    QTest::keyClick(about->exitButton(), Qt::Key_Return);
                } else {
                    about->exitButton()->click();
                }
            }, &w);
            w.aboutButton()->click();
            QCOMPARE(title, QStringLiteral("About Zimble"));
            QVERIFY(copyright.contains(QStringLiteral("Zimble developers")));
            QCOMPARE(web, m_session.productPage());
            QVERIFY(support.contains(QLatin1Char('@')));
        }
        QVERIFY(w.helpButton()->isVisible());
    }

    void dialogsOpenOnTheirWindow_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::newRow("help on the start window") << "help";
        QTest::newRow("about on the start window") << "about";
        QTest::newRow("summary on the playing field") << "summary";
        QTest::newRow("message of the shown summary") << "update refused";
        QTest::newRow("message while the summary opens") << "damaged file";
    }

    // Each dialog and message box opens centred on the window it belongs to, wherever that
    // window stands (here in the screen's corner, away from the screen's centre).
    void dialogsOpenOnTheirWindow()
    {
        QFETCH(QString, dialog);
        m_session.setMessageHandler({}); // the real message boxes
        StartWindow start(m_session);
        start.move(0, 0);
        start.show();
        PlayingField field(m_session, &start);
        field.move(0, 0);
        QWidget* owner = &start;
        QRect opened;
        QPoint ownerCentre;
        auto record = [&](QWidget* modal) {
            opened = modal->frameGeometry();
            ownerCentre = owner->frameGeometry().center();
            modal->close();
        };
        if (dialog == QLatin1String("help") || dialog == QLatin1String("about")) {
            test::onNextModal(record, &start);
            (dialog == QLatin1String("help") ? start.helpButton() : start.aboutButton())->click();
        } else {
            field.show();
            owner = &field;
            QFile::remove(QStringLiteral("Scores.dat"));
            if (dialog == QLatin1String("damaged file")) {
                ScoreRecord damaged;
                damaged.bests[4] = FixedPoint::fromInt(-5);
                QVERIFY(saveScores(QStringLiteral("Scores.dat"), damaged, nullptr));
                test::onNextModal(record, &field);
                SummaryWindow summary(m_session, 0, 4, std::nullopt, &field);
            } else if (dialog == QLatin1String("summary")) {
                test::onNextModal(record, &field);
                field.endGame();
            } else {
                SummaryWindow summary(m_session, 0, 4, std::nullopt, &field);
                placeOnScreen(&summary, &field);
                summary.show();
                owner = &summary;
                test::onNextModal(record, &summary);
                summary.updateButton()->click();
                summary.close();
            }
        }
        m_session.setMessageHandler([this](QWidget*, const QString& text) { m_messages.append(text); });
        QVERIFY(opened.isValid());
        const QPoint off = opened.center() - ownerCentre;
        QVERIFY2(qAbs(off.x()) <= 2 && qAbs(off.y()) <= 2, qPrintable(QStringLiteral("%1 opened %2,%3 off its window's centre")
                                                            .arg(dialog).arg(off.x()).arg(off.y())));
        QFile::remove(QStringLiteral("Scores.dat"));
    }

    void playingFieldOpensModallyFromStart()
    {
        StartWindow w(m_session);
        w.show();
        QString title;
        bool startBlocked = false;
        int boardSize = 0;
        test::onNextModal([&](QWidget* modal) {
            title = modal->windowTitle();
            if (auto* field = qobject_cast<PlayingField*>(modal))
                boardSize = field->state().boardSize();
            startBlocked = !w.isEnabled() || QApplication::activeModalWidget() == modal;
            modal->close();
        }, &w);
        w.playButton()->click();
        QCOMPARE(title, QStringLiteral("Zimble Playing Field"));
        QVERIFY(startBlocked);
        QCOMPARE(boardSize, 4);
    }

    void windowsOpenOnScreen_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSize>("screen"); // in device pixels, with a 40-pixel panel along the top
        for (const QSize screen : {QSize(1280, 1024), QSize(1920, 1080)}) {
            for (double scale : {1.0, 1.25, 1.5, 2.0})
                QTest::addRow("%dx%d at %g", screen.width(), screen.height(), scale) << scale << screen;
        }
    }

    // Every window opens with its top-left corner inside the available area: centred where it
    // fits, at the area's edge along a side where it does not. Then the real thing on this screen.
    void windowsOpenOnScreen()
    {
        QFETCH(double, scale);
        QFETCH(QSize, screen);
        const int panel = qRound(40 / scale);
        const QRect available(0, panel, qRound(screen.width() / scale), qRound(screen.height() / scale) - panel);
        const QSize start(479, 492), field(725, 561);
        const QSize owned[] = {QSize(624, 467), QSize(312, 206), QSize(475, 165)}; // summary, help, about
        auto check = [&](const QSize& size, std::optional<QPoint> centre) {
            const QPoint at = windowPosition(available, size, centre);
            const QRect placed(at, size);
            QVERIFY2(available.contains(at), qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
            const QPoint c = centre.value_or(available.center());
            if (size.width() <= available.width()) {
                QVERIFY(placed.left() >= available.left() && placed.right() <= available.right());
                if (c.x() - size.width() / 2 >= available.left() && c.x() - size.width() / 2 + size.width() <= available.right() + 1)
                    QCOMPARE(at.x(), c.x() - size.width() / 2);
            } else {
                QCOMPARE(at.x(), available.left());
            }
            if (size.height() <= available.height())
                QVERIFY(placed.top() >= available.top() && placed.bottom() <= available.bottom());
            else
                QCOMPARE(at.y(), available.top());
        };
        check(start, std::nullopt);
        check(field, std::nullopt);
        const QPoint startAt = windowPosition(available, start);
        const QPoint fieldAt = windowPosition(available, field);
        for (const QSize& size : owned) {
            check(size, QRect(startAt, start).center());
            check(size, QRect(fieldAt, field).center());
        }
        // At twice the size a 1280 x 1024 screen is 640 x 512: the field goes to the area's corner.
        if (scale == 2.0 && screen == QSize(1280, 1024))
            QCOMPARE(fieldAt, available.topLeft());

        // The real windows on the screen this test runs on: each whole inside the available area
        // with every control it shows, scaled down through one factor where its design does not
        // fit, at its design size where it does.
        StartWindow w(m_session);
        placeOnScreen(&w);
        w.show();
        const QRect area = w.screen()->availableGeometry();
        QStringList outside;
        QList<double> scales;
        auto whole = [&](QWidget* window) {
            scales << twipScale(window);
            const QSizeF design = clientTwips(window) / 15.0;
            const bool fits = design.width() <= area.width() && design.height() <= area.height();
            if (fits)
                QCOMPARE(twipScale(window), 1.0);
            QCOMPARE(window->size(), twipsToPixelRect(QRectF(QPointF(0, 0), clientTwips(window)), twipScale(window)).size());
            if (!area.contains(window->frameGeometry()))
                outside << window->objectName();
            for (QWidget* c : window->findChildren<QWidget*>()) {
                if (c->window() != window || !c->isVisible())
                    continue;
                if (!area.contains(QRect(c->mapToGlobal(QPoint(0, 0)), c->size())))
                    outside << window->objectName() + QLatin1Char('/') + c->objectName();
                // Proportions kept: a control placed in twips stands at its twips times the factor.
                QCOMPARE(c->geometry(), twipsToPixelRect(twipGeometry(c), twipScale(window)));
            }
        };
        whole(&w);
        test::onNextModal([&](QWidget* modal) {
            whole(modal);
            auto* field = qobject_cast<PlayingField*>(modal);
            QVERIFY(field);
            // The knob and the reset button are reachable: on screen, and the knob still turns.
            field->setFrameDelay([](float) {});
            field->sizeKnob()->setValue(7);
            QCOMPARE(field->state().boardSize(), 7);
            whole(modal);
            field->onTileClicked(0);
            whole(modal);
            test::onNextModal([&](QWidget* summary) {
                whole(summary);
                summary->close();
            }, modal);
            field->endGame();
            modal->close();
        }, &w);
        w.playButton()->click();
        test::onNextModal([&](QWidget* modal) {
            whole(modal);
            modal->close();
        }, &w);
        w.aboutButton()->click();
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral(", ")) + QStringLiteral(" outside %1x%2")
                                                                                           .arg(area.width()).arg(area.height())));
        QCOMPARE(scales.size(), 6);
    }

    void playingFieldCatalogue()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        QCOMPARE(g.windowTitle(), QStringLiteral("Zimble Playing Field"));
        QCOMPARE(g.size(), QSize(725, 561));
        QCOMPARE(g.scoreDisplay()->geometry(), px(675, 105, 9585, 1380));
        QVERIFY(g.tile(48));
        QVERIFY(!g.tile(49));
        QCOMPARE(g.sizeKnob()->geometry(), px(9030, 6465, 1725, 1845));
        QCOMPARE(g.sizeKnob()->minimum(), 4.0);
        QCOMPARE(g.sizeKnob()->maximum(), 7.0);
        QCOMPARE(g.resetButton()->geometry(), px(9060, 6570, 1650, 1650));
        QCOMPARE(g.resetButton()->picture().deviceIndependentSize(), QSizeF(106, 106));
        QVERIFY(g.resetButton()->picture().width() >= 2 * 106);
        QVERIFY(g.resetButton()->isHidden());
        QCOMPARE(g.clockGauge()->geometry(), px(-15, 6540, 2025, 1830));
        QCOMPARE(g.clockGauge()->needleCount(), 3);
        QCOMPARE(g.clockTimer()->interval(), 50);
        QVERIFY(!g.clockTimer()->isActive());
        QVERIFY(g.overlay()->isHidden());
        // Tab order: tiles 0 to 5, then the knob, then tile 6.
        QCOMPARE(g.tile(5)->nextInFocusChain(), g.sizeKnob());
        QCOMPARE(g.sizeKnob()->nextInFocusChain(), g.tile(6));
    }

    void layoutFollowsTheKnob()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        QCOMPARE(f.state().boardSize(), 4);
        QCOMPARE(twipGeometry(g.tile(0)), QRectF(3037.5, 2550, 1200, 1200));
        g.sizeKnob()->setValue(7);
        QCOMPARE(f.state().boardSize(), 7);
        for (int i = 0; i < 49; ++i)
            QVERIFY(!g.tile(i)->isHidden());
        const QRectF last = twipGeometry(g.tile(48));
        QCOMPARE(last.right(), 8797.5);
        QCOMPARE(last.bottom(), 8310.0);
        g.sizeKnob()->setValue(5);
        QCOMPARE(twipGeometry(g.tile(13)), QRectF(2662.5 + 3 * 1110, 2175 + 2 * 1110, 1110, 1110));
        g.sizeKnob()->setValue(4);
        for (int i = 0; i < 49; ++i) {
            QCOMPARE(g.tile(i)->isHidden(), i >= 16);
            QCOMPARE(twipGeometry(g.tile(i)).size(), QSizeF(1200, 1200));
            QCOMPARE(g.tile(i)->backColor(), QColor(Qt::black));
            QVERIFY(g.tile(i)->picture().isNull());
        }
        // Pixels: the grid is flush, every button 80 px, edges shared.
        QCOMPARE(g.tile(1)->geometry().left(), g.tile(0)->geometry().right() + 1);
        QCOMPARE(f.state().clickCount() + int(f.state().history().size()), 0);
    }

    void knobRoundsHalfToEven()
    {
        Field f(m_session);
        const struct { double value; int size; } cases[] = {{4.5, 4}, {5.5, 6}, {6.49, 6}, {6.5, 6}, {5.2, 5}, {9, 7}, {1, 4}};
        for (const auto& c : cases) {
            f.game.sizeKnob()->setValue(c.value == 4.5 ? 4.6 : 4.4); // make sure a change happens
            f.game.sizeKnob()->setValue(c.value);
            QCOMPARE(f.state().boardSize(), c.size);
        }
    }

    void knobTurnsWithKeys()
    {
        Field f(m_session);
        Knob* knob = f.game.sizeKnob();
        QTest::keyClick(knob, Qt::Key_Right);
        QCOMPARE(f.state().boardSize(), 5);
        QTest::keyClick(knob, Qt::Key_End);
        QCOMPARE(f.state().boardSize(), 7);
        QTest::keyClick(knob, Qt::Key_Right);
        QCOMPARE(f.state().boardSize(), 7);
        QTest::keyClick(knob, Qt::Key_Down);
        QCOMPARE(f.state().boardSize(), 6);
    }

    void keysMoveTheFocus_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<QList<int>>("removed"); // tiles clicked away first
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("to");
        const QList<int> none;
        QTest::newRow("right") << 4 << none << 0 << int(Qt::Key_Right) << 1;
        QTest::newRow("right wraps at the row's end") << 4 << none << 3 << int(Qt::Key_Right) << 0;
        QTest::newRow("left wraps at the row's start") << 4 << none << 4 << int(Qt::Key_Left) << 7;
        QTest::newRow("down") << 4 << none << 1 << int(Qt::Key_Down) << 5;
        QTest::newRow("down wraps at the bottom") << 4 << none << 13 << int(Qt::Key_Down) << 1;
        QTest::newRow("up wraps at the top") << 4 << none << 2 << int(Qt::Key_Up) << 14;
        QTest::newRow("right on 7 x 7 wraps at the last column") << 7 << none << 6 << int(Qt::Key_Right) << 0;
        QTest::newRow("down on 7 x 7 reaches the last row") << 7 << none << 41 << int(Qt::Key_Down) << 48;
        QTest::newRow("right skips a removed tile") << 4 << QList<int>{1} << 0 << int(Qt::Key_Right) << 2;
        QTest::newRow("right with its row empty: the nearest row, upper first") << 4 << QList<int>{4, 6, 7} << 5
                                                                               << int(Qt::Key_Right) << 2;
        QTest::newRow("up with its column gone wraps to the nearest row") << 4 << QList<int>{4, 8, 12} << 0
                                                                          << int(Qt::Key_Up) << 13;
        QTest::newRow("down wraps and skips a removed tile") << 5 << QList<int>{0} << 20 << int(Qt::Key_Down) << 5;
        QTest::newRow("left with nothing else in reach stays") << 4 << QList<int>{0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}
                                                               << 5 << int(Qt::Key_Left) << 5;
        QTest::newRow("home: first clickable tile") << 5 << QList<int>{0, 1} << 12 << int(Qt::Key_Home) << 2;
        QTest::newRow("end: last clickable tile") << 7 << QList<int>{48} << 0 << int(Qt::Key_End) << 47;
        QTest::newRow("end on 4 x 4") << 4 << none << 5 << int(Qt::Key_End) << 15;
        // Space on a tile at its third picture clicks it away: the focus goes on to the next tile.
        QTest::newRow("space clicks a tile away: on to the next") << 4 << QList<int>{0, 2} << 5 << int(Qt::Key_Space) << 6;
        QTest::newRow("space clicks a tile away: past removed ones") << 5 << QList<int>{13, 14} << 12 << int(Qt::Key_Space)
                                                                    << 15;
    }

    void keysMoveTheFocus()
    {
        QFETCH(int, board);
        QFETCH(QList<int>, removed);
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, to);
        Field f(m_session);
        f.game.sizeKnob()->setValue(board);
        for (int t : removed) {
            for (int k = 0; k < 4; ++k)
                f.click(t);
        }
        const int clicked = key == Qt::Key_Space ? 4 : 0; // the Space row's own tile goes too
        for (int k = 1; k < clicked; ++k)
            f.click(from);
        f.game.tile(from)->setFocus();
        QTest::keyClick(f.game.tile(from), Qt::Key(key));
        QCOMPARE(f.game.focusWidget(), f.game.tile(to));
        QCOMPARE(f.state().clickCount(), 4 * int(removed.size()) + clicked); // moving clicks nothing
    }

    void keyboardPlaysAWholeGame()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        g.show();
        QVERIFY(QTest::qWaitForWindowActive(&g));
        auto focused = [] { return QApplication::focusWidget(); };
        QCOMPARE(focused(), g.tile(0));
        // Tab: the board is one stop, then the knob; the display takes no focus.
        QTest::keyClick(focused(), Qt::Key_Right);
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), g.sizeKnob());
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), g.tile(1)); // back to the tile the board left off at
        QTest::keyClick(focused(), Qt::Key_Backtab);
        QCOMPARE(focused(), g.sizeKnob());

        // One mouse click gives its tile the focus; Space does the rest, and each tile's fourth
        // click hands the focus to the next tile.
        QTest::mouseClick(g.tile(0), Qt::LeftButton);
        QCOMPARE(focused(), g.tile(0));
        QCOMPARE(g.scoreDisplay()->value(), 2.5);
        std::vector<std::int32_t> expected{0};
        for (int press = 1; press < 64; ++press) {
            if (press == 4) {
                QCOMPARE(focused(), g.tile(1));
                // Mid-game Tab goes from the board to the reset button (the knob is hidden) and back.
                QTest::keyClick(focused(), Qt::Key_Tab);
                QCOMPARE(focused(), g.resetButton());
                QTest::keyClick(focused(), Qt::Key_Tab);
                QCOMPARE(focused(), g.tile(1));
            }
            if (press < 63)
                QCOMPARE(f.state().history(), expected);
            QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Space);
            expected.push_back(press / 4);
        }
        QCOMPARE(f.summaries, QList<double>{63.0});
        // A fresh board: the focus is back on its first tile, and Enter clicks like Space.
        QCOMPARE(focused(), g.tile(0));
        QTest::keyClick(focused(), Qt::Key_Down);
        QTest::keyClick(focused(), Qt::Key_Return);
        QCOMPARE(f.state().history(), std::vector<std::int32_t>{4});
        QCOMPARE(g.scoreDisplay()->value(), 2.5);
        QVERIFY(g.clockTimer()->isActive());
        QCOMPARE(focused(), g.tile(4));

        // The focus mark: a lit ring between dark edges, on the black tile and on every picture.
        ThreeDButton* t = g.tile(4);
        for (int hits = 1; hits <= 3; ++hits) {
            const QImage marked = t->grab().toImage();
            const int y = marked.height() / 2;
            QCOMPARE(QColor(marked.pixel(3, y)), QColor(Qt::black));
            QCOMPARE(QColor(marked.pixel(4, y)), t->focusColor());
            QCOMPARE(QColor(marked.pixel(5, y)), t->focusColor());
            QCOMPARE(QColor(marked.pixel(6, y)), QColor(Qt::black));
            g.tile(5)->setFocus();
            QVERIFY(t->grab().toImage() != marked);
            t->setFocus();
            QTest::keyClick(t, Qt::Key_Space);
            QCOMPARE(f.state().hitCount(4), hits + 1);
        }
        g.tile(6)->setFocus();
        const QImage empty = g.tile(6)->grab().toImage();
        QCOMPARE(QColor(empty.pixel(4, empty.height() / 2)), g.tile(6)->focusColor());
        g.clockTimer()->stop();
    }

    void clockTicksMoveTheNeedles()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        auto needle = [&](int i) { return g.clockGauge()->needleValue(i); };
        for (int i = 0; i < 15; ++i)
            g.onClockTick();
        QCOMPARE(needle(1), 15.0);
        QCOMPARE(f.state().clockCycles(), 0);
        g.onClockTick();
        QCOMPARE(needle(1), 0.0);
        QCOMPARE(needle(0), 1.0);
        QCOMPARE(f.state().clockCycles(), 1);
        for (int i = 16; i < 976; ++i)
            g.onClockTick();
        QCOMPARE(needle(0), 0.0);
        QCOMPARE(needle(2), 1.0);
        QCOMPARE(f.state().clockCycles(), 61);
    }

    void ticksDuringAClickAreNotMadeUp()
    {
        Field f(m_session);
        f.game.setFrameDelay(blockingDelay); // the real 0.6 s of animation
        f.game.show();
        f.click(0); // starts the 50 ms clock, then holds the thread for ten frames
        QTest::qWait(20);
        // About twelve ticks fell due during the click; at most one is delivered afterwards.
        const double fast = f.game.clockGauge()->needleValue(1);
        QVERIFY2(fast <= 1.0, qPrintable(QString::number(fast)));
        f.game.clockTimer()->stop();
    }

    void firstClickStartsTheGame()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        f.click(0);
        QVERIFY(g.clockTimer()->isActive());
        QVERIFY(g.sizeKnob()->isHidden());
        QVERIFY(!g.resetButton()->isHidden());
        QCOMPARE(f.state().hitCount(0), 1);
        QCOMPARE(f.state().clickCount(), 1);
        QCOMPARE(g.scoreDisplay()->value(), 2.5);
        // Only the first click switches the timer on.
        g.clockTimer()->stop();
        f.click(1);
        QVERIFY(!g.clockTimer()->isActive());
        // Every click hides the knob and shows the reset button.
        g.sizeKnob()->setVisible(true);
        g.resetButton()->setVisible(false);
        f.click(2);
        QVERIFY(g.sizeKnob()->isHidden());
        QVERIFY(!g.resetButton()->isHidden());
    }

    void resetDuringPlay()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        g.sizeKnob()->setValue(5);
        f.click(3);
        f.click(3);
        for (int i = 0; i < 20; ++i)
            g.onClockTick();
        g.resetButton()->click();
        QVERIFY(!g.clockTimer()->isActive());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(g.clockGauge()->needleValue(i), 0.0);
        QCOMPARE(g.scoreDisplay()->value(), 0.0);
        QVERIFY(!g.sizeKnob()->isHidden());
        QVERIFY(g.resetButton()->isHidden());
        QVERIFY(g.tile(3)->picture().isNull());
        QCOMPARE(f.state().boardSize(), 5);
        QCOMPARE(f.state().clickCount() + int(f.state().history().size()) + f.state().clockCycles() + f.state().hitCount(3), 0);
        QVERIFY(f.state().history().empty());
        QVERIFY(f.summaries.isEmpty());
        // A click after the reset is again a first click.
        f.click(0);
        QVERIFY(g.clockTimer()->isActive());
        QCOMPARE(g.scoreDisplay()->value(), 2.5);
    }

    void picturesFollowTheClicks()
    {
        QCOMPARE(m_session.pictureFileName(2), QStringLiteral("tessa2.jpg"));
        m_session.setDataDir(QStringLiteral("g:\\TESSA\\"));
        QCOMPARE(m_session.pictureFileName(3), QStringLiteral("g:\\TESSA\\tessa3.jpg"));
        m_session.setDataDir(QString());

        Field f(m_session);
        const QImage second = QImage(QStringLiteral("tessa2.jpg")).convertToFormat(QImage::Format_RGB32);
        f.click(6);
        f.click(6);
        QCOMPARE(f.game.tile(6)->picture().toImage().convertToFormat(QImage::Format_RGB32), second);
        QVERIFY(f.game.overlay()->isHidden());
    }

    void revealAnimationFrames()
    {
        for (int n : {4, 7}) {
            Field f(m_session);
            f.game.sizeKnob()->setValue(n);
            const QRectF button = twipGeometry(f.game.tile(0));
            f.click(0);
            QCOMPARE(f.frames.size(), 10);
            for (int i = 0; i < 10; ++i) {
                const double k = 540 - 60 * i;
                const double s = 60 + 120 * i;
                QCOMPARE(f.frames[i].control, QStringLiteral("overlay"));
                QCOMPARE(f.frames[i].twips, QRectF(button.left() + k, button.top() + k, s, s));
            }
            QCOMPARE(f.frames.last().twips.size(), QSizeF(1140, 1140));
            QCOMPARE(f.game.overlay()->backColor(), QColor(Qt::white));
        }
    }

    void shrinkAnimationFrames()
    {
        for (int n : {4, 6}) {
            Field f(m_session);
            f.game.sizeKnob()->setValue(n);
            const QRectF button = twipGeometry(f.game.tile(1));
            for (int i = 0; i < 3; ++i)
                f.click(1);
            f.frames.clear();
            f.click(1);
            QCOMPARE(f.frames.size(), 10);
            const double L0 = qRound(button.left() / 2) * 2 == button.left() ? button.left() : std::nearbyint(button.left());
            const double T0 = std::nearbyint(button.top());
            for (int i = 0; i < 10; ++i) {
                const double k = 60 * i;
                QCOMPARE(f.frames[i].control, QStringLiteral("tile1"));
                QCOMPARE(f.frames[i].twips, QRectF(L0 + k, T0 + k, 1200 - 120 * i, 1200 - 120 * i));
            }
            QVERIFY(f.game.tile(1)->isHidden());
            QVERIFY(f.game.overlay()->isHidden());
            QCOMPARE(f.game.overlay()->backColor(), QColor(Qt::black));
            // A fifth click on a hidden button does nothing.
            f.game.onTileClicked(1);
            QCOMPARE(f.state().hitCount(1), 4);
            // The next layout brings it back.
            f.game.resetGame();
            QVERIFY(!f.game.tile(1)->isHidden());
            QCOMPARE(twipGeometry(f.game.tile(1)), button);
        }
    }

    void gameEndsExactlyAtTheLastClick()
    {
        for (int n = 4; n <= 7; ++n) {
            Field f(m_session);
            f.game.sizeKnob()->setValue(n);
            const int M = 4 * n * n;
            int clicks = 0;
            for (int b = 0; b < n * n; ++b) {
                for (int k = 0; k < 4; ++k) {
                    f.click(b);
                    ++clicks;
                    if (clicks == M - 1) {
                        QVERIFY(f.summaries.isEmpty());
                        QVERIFY(f.game.clockTimer()->isActive());
                    }
                }
            }
            QCOMPARE(f.summaries.size(), 1);
            QCOMPARE(f.summaries.first(), double(M - 1)); // the floor: c at the last click
            // After the summary the field is reset for the same board size.
            QVERIFY(!f.game.clockTimer()->isActive());
            QCOMPARE(f.game.scoreDisplay()->value(), 0.0);
            QCOMPARE(f.state().clickCount(), 0);
            QCOMPARE(f.state().boardSize(), n);
            QVERIFY(!f.game.tile(n * n - 1)->isHidden());
        }
    }

    void ctrlTEndsTheGame()
    {
        Field f(m_session);
        PlayingField& g = f.game;
        g.show();
        QVERIFY(QTest::qWaitForWindowActive(&g));
        // In Ready: the summary shows 0.
        QTest::keyClick(g.tile(0), Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(f.summaries, QList<double>{0.0});
        // In Playing: the current score, then a reset.
        f.click(0);
        f.click(1);
        QTest::keyClick(g.scoreDisplay(), Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(f.summaries.size(), 2);
        QCOMPARE(f.summaries.last(), 4.9219);
        QVERIFY(!g.clockTimer()->isActive());
        QCOMPARE(f.state().clickCount(), 0);
        QCOMPARE(g.scoreDisplay()->value(), 0.0);
        // Other keys and control characters change nothing.
        f.click(2);
        QTest::keyClick(g.tile(3), Qt::Key_T);
        QTest::keyClick(g.tile(3), Qt::Key_R, Qt::ControlModifier);
        QTest::keyClick(g.tile(3), Qt::Key_Escape);
        QCOMPARE(f.summaries.size(), 2);
        QCOMPARE(f.state().clickCount(), 1);
        QVERIFY(g.clockTimer()->isActive());
    }

    void ctrlTWorksWithoutAFocusedControl()
    {
        // Two Ctrl+T in a row sent to the window itself, with no child focused: each ends a game.
        Field f(m_session);
        PlayingField& g = f.game;
        g.show();
        QVERIFY(QTest::qWaitForWindowActive(&g));
        if (QWidget* focused = g.focusWidget())
            focused->clearFocus();
        QTest::keyClick(&g, Qt::Key_T, Qt::ControlModifier);
        QTest::keyClick(&g, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(f.summaries.size(), 2);
    }

    void reloadingTheFieldStartsAtFour()
    {
        {
            Field f(m_session);
            f.game.sizeKnob()->setValue(6);
            QCOMPARE(f.state().boardSize(), 6);
        }
        Field again(m_session);
        QCOMPARE(again.state().boardSize(), 4);
        QCOMPARE(again.game.tile(15)->isHidden(), false);
        QCOMPARE(again.game.tile(16)->isHidden(), true);
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
            PlayingField g(m_session);
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
        Field f(m_session);
        QVERIFY(QFile::rename(QStringLiteral("tessa1.jpg"), QStringLiteral("moved.jpg")));
        QEventLoop loop;
        QTimer::singleShot(0, [&] { f.click(0); });
        const int status = loop.exec();
        clearQuitRequest();
        QVERIFY(QFile::rename(QStringLiteral("moved.jpg"), QStringLiteral("tessa1.jpg")));
        QCOMPARE(status, 1);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("tessa1.jpg")));
        QCOMPARE(f.state().clickCount(), 0);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
