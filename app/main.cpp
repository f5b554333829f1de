#include "session.h"
#include "startwindow.h"

#include "ui/windowstyle.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <vector>

namespace {

// Reads the command line before any window system is touched, so that --help and --version work
// without a display. Play takes no configuration: anything else is refused with status 2.
// Returns -1 when the game should start, else the status to end with.
int handleCommandLine(int argc, char* argv[])
{
    // The usage names the game as players start it, not the path of the binary behind the launcher.
    char name[] = "zimble";
    std::vector<char*> args(argv, argv + argc);
    args[0] = name;
    QCoreApplication cli(argc, args.data());
    QCoreApplication::setApplicationName(QStringLiteral("zimble"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Zimble, a puzzle game without instructions: get the highest Zimble Quotient (ZQ) that you can. "
        "The game itself takes no options."));
    // "-platform" and the like are refused whole, not read as a bundle of one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    QString error = parser.errorText();
    if (parsed && !parser.positionalArguments().isEmpty())
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
    if (!parsed || !error.isEmpty()) {
        std::fprintf(stderr, "zimble: %s\n%s", qPrintable(error), qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("zimble %s\n", ZIMBLE_VERSION);
        return 0;
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1) {
        if (const int status = handleCommandLine(argc, argv); status >= 0)
            return status;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zimble"));
    QApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Zimble"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zimble.Zimble"));
    QApplication::setWindowIcon(zimble::ui::programIcon());

    zimble::Session session;
    zimble::StartWindow start(session);
    zimble::ui::placeOnScreen(&start);
    start.show();
    return app.exec();
}
