// Takes a screenshot of every window for the README. Run under Xvfb (scripts/screenshots).
// Usage: zimble-screenshots OUTPUT_DIR

#include "app/frmabout.h"
#include "app/frmhelp.h"
#include "app/frmstart.h"
#include "app/shell.h"
#include "game/frmgame.h"
#include "game/module1.h"
#include "scores/frmsum.h"
#include "scores/scorefile.h"
#include "ui/knob.h"
#include "ui/numled.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

QString outDir;

void shoot(QWidget* w, const QString& name)
{
    w->show();
    w->raise();
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
    const QPixmap shot = w->grab();
    const QString path = outDir + QLatin1Char('/') + name;
    std::printf("%s %s\n", qPrintable(path), shot.save(path) ? "written" : "FAILED");
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    QTemporaryDir dir;
    for (const char* name : {"tessa1.jpg", "tessa2.jpg", "tessa3.jpg"})
        QFile::copy(QStringLiteral(ZIMBLE_ASSETS_DIR "/") + QLatin1String(name), dir.filePath(QLatin1String(name)));
    QDir::setCurrent(dir.path());
    zimble::setMessageHook([](QWidget*, const QString&) {});

    zimble::frmStart start;
    shoot(&start, QStringLiteral("start.png"));

    {
        zimble::frmGame game;
        game.pause = [](float) {};
        game.showSummary = [] {};
        game.Timer1->setInterval(1);
        shoot(&game, QStringLiteral("field-ready.png"));
        game.Knob2(10)->setKnobValue(6);
        const int clicks[] = {0, 1, 2, 8, 8, 14, 7, 7, 7, 21, 22, 23, 23, 29, 35, 35, 35, 35, 28, 15, 15, 9, 10, 11, 5, 5, 5, 30, 31, 17};
        for (int b : clicks)
            game.BB(b)->click();
        for (int i = 0; i < 40; ++i)
            game.Timer1_Timer();
        game.Timer1->stop();
        shoot(&game, QStringLiteral("field-playing.png"));
    }

    {
        zimble::ScoreRecord r;
        r.YourHigh[4] = zimble::FixedPoint::fromDouble(412.7);
        r.YourHigh[5] = zimble::FixedPoint::fromDouble(1033.25);
        r.YourHigh[6] = zimble::FixedPoint::fromDouble(2210.5);
        r.WorldWideHigh[4] = zimble::FixedPoint::fromInt(980);
        r.WorldWideHigh[5] = zimble::FixedPoint::fromInt(1410);
        r.WorldWideHigh[6] = zimble::FixedPoint::fromInt(2210);
        r.WorldWideHigh[7] = zimble::FixedPoint::fromInt(3305);
        r.RecordHolder[4] = zimble::fixedText(QStringLiteral("Bo Kim"));
        r.RecordHolder[5] = zimble::fixedText(QStringLiteral("Ann Lee"));
        r.RecordHolder[6] = zimble::fixedText(QStringLiteral("Cy"));
        r.RecordHolder[7] = zimble::fixedText(QStringLiteral("Dee"));
        r.PlayerName = zimble::fixedText(QStringLiteral("Ann Lee"));
        zimble::saveScores(zimble::scoreFileName(), r, nullptr);
        zimble::Module1::BoardSize = 6;
        zimble::ui::NumLed led;
        led.setValue(2210.5);
        zimble::frmSum sum(&led);
        sum.SSPanel2(50)->setCaption(QStringLiteral("Congratulations, Ann Lee! You set the new world record for the 6 x 6 board."));
        shoot(&sum, QStringLiteral("summary.png"));
        sum.done(0);
    }

    zimble::frmHelp help(&start);
    shoot(&help, QStringLiteral("help.png"));
    zimble::frmAbout about(&start);
    shoot(&about, QStringLiteral("about.png"));
    return 0;
}
