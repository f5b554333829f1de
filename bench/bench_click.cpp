// CPU time spent on one click's handling (animation included) against its wall time, in a
// headless playing field with the real animation delay. A busy wait would show about 100%.

#include "app/playingfield.h"
#include "app/session.h"
#include "ui/threedbutton.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    for (const char* name : {"tessa1.jpg", "tessa2.jpg", "tessa3.jpg"})
        QFile::copy(QStringLiteral(ZIMBLE_ASSETS_DIR "/") + QLatin1String(name), dir.filePath(QLatin1String(name)));
    QDir::setCurrent(dir.path());

    zimble::Session session;
    zimble::PlayingField game(session);
    game.setSummaryPresenter([] {});
    game.show();
    QApplication::processEvents();

    const int clicks = argc > 1 ? std::atoi(argv[1]) : 12; // at most 63: one 4 x 4 game
    double cpu = 0, wall = 0;
    for (int i = 0; i < clicks; ++i) {
        // Each button four times: three reveal animations, then the shrink.
        const int button = (i / 4) % 16;
        QElapsedTimer t;
        const double c0 = cpuSeconds();
        t.start();
        game.tile(button)->click();
        wall += t.nsecsElapsed() / 1e9;
        cpu += cpuSeconds() - c0;
        QApplication::processEvents();
    }
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("clicks measured:        %d\n", clicks);
    std::printf("wall time per click:    %.3f s\n", wall / clicks);
    std::printf("CPU time per click:     %.4f s\n", cpu / clicks);
    std::printf("CPU / wall during click: %.1f%%\n", 100.0 * cpu / wall);
    std::printf("peak resident memory:   %.1f MiB\n", u.ru_maxrss / 1024.0);
    return 0;
}
