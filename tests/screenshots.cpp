// Takes a screenshot of every window for the README. Run under Xvfb (scripts/screenshots).
// Usage: zimble-screenshots OUTPUT_DIR

#include "app/aboutwindow.h"
#include "app/helpwindow.h"
#include "app/playingfield.h"
#include "app/session.h"
#include "app/startwindow.h"
#include "app/summarywindow.h"
#include "scores/scorefile.h"
#include "ui/knob.h"
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

void shoot(QWidget* w, const QString& outDir, const QString& name)
{
    w->show();
    w->raise();
    w->activateWindow(); // so that the focus mark shows where the focus is
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
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    QTemporaryDir dir;
    for (const char* name : {"tessa1.jpg", "tessa2.jpg", "tessa3.jpg"})
        QFile::copy(QStringLiteral(ZIMBLE_ASSETS_DIR "/") + QLatin1String(name), dir.filePath(QLatin1String(name)));
    QDir::setCurrent(dir.path());
    zimble::Session session;
    session.setMessageHandler([](QWidget*, const QString&) {});

    zimble::StartWindow start(session);
    shoot(&start, outDir, QStringLiteral("start.png"));

    {
        zimble::PlayingField game(session);
        game.setFrameDelay([](float) {});
        game.setSummaryPresenter([] {});
        game.clockTimer()->setInterval(1);
        shoot(&game, outDir, QStringLiteral("field-ready.png"));
        game.sizeKnob()->setValue(6);
        const int clicks[] = {0, 1, 2, 8, 8, 14, 7, 7, 7, 21, 22, 23, 23, 29, 35, 35, 35, 35, 28, 15, 15, 9, 10, 11, 5, 5, 5, 30, 31, 17};
        for (int b : clicks)
            game.tile(b)->click();
        for (int i = 0; i < 40; ++i)
            game.onClockTick();
        game.clockTimer()->stop();
        shoot(&game, outDir, QStringLiteral("field-playing.png"));
    }

    {
        zimble::ScoreRecord r;
        r.bests[4] = zimble::FixedPoint::fromDouble(412.7);
        r.bests[5] = zimble::FixedPoint::fromDouble(1033.25);
        r.bests[6] = zimble::FixedPoint::fromDouble(2210.5);
        r.worldHighs[4] = zimble::FixedPoint::fromInt(980);
        r.worldHighs[5] = zimble::FixedPoint::fromInt(1410);
        r.worldHighs[6] = zimble::FixedPoint::fromInt(2210);
        r.worldHighs[7] = zimble::FixedPoint::fromInt(3305);
        r.holders[4] = zimble::fixedText(QStringLiteral("Bo Kim"));
        r.holders[5] = zimble::fixedText(QStringLiteral("Ann Lee"));
        r.holders[6] = zimble::fixedText(QStringLiteral("Cy"));
        r.holders[7] = zimble::fixedText(QStringLiteral("Dee"));
        r.playerName = zimble::fixedText(QStringLiteral("Ann Lee"));
        zimble::saveScores(session.scoreFileName(), r, nullptr);
        zimble::SummaryWindow sum(session, 2210.5, 6);
        sum.statusLine()->setCaption(QStringLiteral("Congratulations! New world record on 6 x 6. Your ranks: 4 x 4 17th of 4,512; 5 x 5 3rd of 918; 6 x 6 1st of 1,204."));
        shoot(&sum, outDir, QStringLiteral("summary.png"));
        sum.done(0);
    }

    zimble::HelpWindow help(&start);
    shoot(&help, outDir, QStringLiteral("help.png"));
    zimble::AboutWindow about(session.productPage(), &start);
    shoot(&about, outDir, QStringLiteral("about.png"));
    return 0;
}
