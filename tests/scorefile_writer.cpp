// Saves two different score records in turn, as fast as it can, until it is killed.
// Used to check that a save interrupted at any moment leaves one whole record on disk.

#include "scores/scorefile.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QString file = QString::fromLocal8Bit(argv[1]);
    zimble::ScoreRecord a, b;
    a.playerName = zimble::fixedText(QStringLiteral("Alpha"));
    a.bests[4] = zimble::FixedPoint::fromInt(111);
    b.playerName = zimble::fixedText(QStringLiteral("Bravo"));
    b.bests[7] = zimble::FixedPoint::fromInt(999);
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned long i = 0;; ++i) {
        QString error;
        if (!zimble::saveScores(file, i % 2 ? b : a, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
}
