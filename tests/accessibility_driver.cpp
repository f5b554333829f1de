// The windows as the AT-SPI test reads them: the start, help and about windows, and the playing
// field over a score file with known values. Commands on standard input, one a line:
//   end    ends the game (the summary window opens)
//   quit   ends the program
// Run in a directory holding the board pictures.

#include "app/aboutwindow.h"
#include "app/helpwindow.h"
#include "app/playingfield.h"
#include "app/session.h"
#include "app/startwindow.h"
#include "scores/scorefile.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using namespace zimble;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Session session;
    session.setMessageHandler([](QWidget*, const QString& text) { std::printf("message: %s\n", qPrintable(text)); });
    ScoreRecord scores;
    scores.bests[5] = FixedPoint::fromDouble(812.5);
    scores.worldHighs[5] = FixedPoint::fromInt(1410);
    scores.holders[5] = fixedText(QStringLiteral("Ann Lee"));
    scores.playerName = fixedText(QStringLiteral("Bo"));
    if (!saveScores(session.scoreFileName(), scores, nullptr))
        return 2;

    StartWindow start(session);
    start.show();
    HelpWindow help(&start);
    help.show();
    AboutWindow about(session.productPage(), &start);
    about.show();
    PlayingField field(session, &start);
    field.setFrameDelay([](float) {});
    field.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        const QByteArray command = QByteArray(line, n > 0 ? int(n) : 0).trimmed();
        if (n <= 0 || command == "quit") {
            QCoreApplication::exit(0);
        } else if (command == "end") {
            // The summary opens modally; this handler returns when it closes.
            QTimer::singleShot(0, &field, &PlayingField::endGame);
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
