// zimble-scored: the Zimble world high-score service.

#include "logging.h"
#include "scoreservice.h"
#include "server/store/scorestore.h"

#include "scores/codepage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: wake the event loop through the pipe.
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

bool parseListen(const QString& text, QHostAddress& address, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p > 65535)
        return false;
    port = static_cast<quint16>(p);
    if (host == QLatin1String("localhost"))
        address = QHostAddress(QHostAddress::LocalHost);
    else if (host == QLatin1String("*"))
        address = QHostAddress(QHostAddress::Any);
    else if (!address.setAddress(host))
        return false;
    return true;
}

bool parseAddresses(const QString& text, QList<QHostAddress>& out)
{
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        QHostAddress a;
        if (!a.setAddress(part.trimmed()))
            return false;
        bool v4 = false;
        const quint32 ip = a.toIPv4Address(&v4);
        out.append(v4 ? QHostAddress(ip) : a);
    }
    return !out.isEmpty();
}

// Why the service cannot listen there, and what to do about it.
QString listenProblem(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("address already in use (another program serves there: stop it or choose another port)");
    case QAbstractSocket::SocketAccessError: {
        // Where privileged ports end is a kernel setting, 1024 unless changed.
        QFile setting(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
        bool ok = false;
        const int first = setting.open(QIODevice::ReadOnly) ? setting.readAll().trimmed().toInt(&ok) : 0;
        return QStringLiteral("permission denied (ports below %1 need root or the CAP_NET_BIND_SERVICE capability; "
                              "or serve on a higher port behind a reverse proxy)")
            .arg(ok ? first : 1024);
    }
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("address not available on this machine (give one of its own addresses, or * for all)");
    default:
        return QStringLiteral("the system refused it (socket error %1)").arg(int(error));
    }
}

// A name given on the command line, read from the bytes as typed: UTF-8 when they are valid UTF-8,
// else Windows-1252, as the service reads names from the game.
QString nameArgument(const QString& parsed, int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        QByteArray raw(argv[i]);
        const qsizetype eq = raw.startsWith("--") ? raw.indexOf('=') : -1;
        if (eq >= 0)
            raw = raw.mid(eq + 1);
        if (QString::fromLocal8Bit(raw) == parsed)
            return zimble::decodeName(raw);
    }
    return parsed;
}

QString boardName(int board)
{
    return QStringLiteral("%1 x %1").arg(board);
}

QString recordText(const zimble::server::WorldRecord& r)
{
    return r.holder.isEmpty() ? QStringLiteral("none") : QStringLiteral("%1 by %2").arg(r.score).arg(QString::fromUtf8(zimble::server::logSafe(r.holder)));
}

// --list: the stored submissions, one a line, tab-separated.
int listSubmissions(zimble::server::ScoreStore& store, int board, const QString& name, int limit)
{
    QList<zimble::server::StoredSubmission> rows;
    if (const zimble::server::Status s = store.list(board, name, limit, rows); !s) {
        std::fprintf(stderr, "zimble-scored: listing failed: %s\n", zimble::server::logSafe(s.reason()).constData());
        return 1;
    }
    std::printf("id\ttime\tname\tclient\t4x4\t5x5\t6x6\t7x7\n");
    for (const auto& r : rows) {
        std::printf("%lld\t%s\t%s\t%s\t%lld\t%lld\t%lld\t%lld\n", static_cast<long long>(r.id),
                    qPrintable(r.at.toUTC().toString(Qt::ISODate)), zimble::server::logSafe(r.name).constData(),
                    zimble::server::logSafe(r.client).constData(), static_cast<long long>(r.scores[0]),
                    static_cast<long long>(r.scores[1]), static_cast<long long>(r.scores[2]), static_cast<long long>(r.scores[3]));
    }
    return 0;
}

// --remove-name: deletes the name's submissions and says what happened to each record.
int removeName(zimble::server::ScoreStore& store, const QString& name, bool dryRun)
{
    int removed = 0;
    zimble::server::WorldRecords before, after;
    QStringList names;
    if (const zimble::server::Status s = store.removeName(name, &removed, &before, &after, dryRun, &names); !s) {
        std::fprintf(stderr, "zimble-scored: removing failed, nothing changed: %s\n", zimble::server::logSafe(s.reason()).constData());
        return 1;
    }
    // Every stored name folding like the one given, as the pages find them.
    QStringList quoted;
    for (const QString& n : std::as_const(names))
        quoted << QStringLiteral("\"%1\"").arg(QString::fromUtf8(zimble::server::logSafe(n)));
    const QByteArray who = quoted.isEmpty() ? "\"" + zimble::server::logSafe(name) + "\"" : quoted.join(QStringLiteral(", ")).toUtf8();
    std::printf(dryRun ? "Would remove %d submission(s) by %s (nothing changed).\n" : "Removed %d submission(s) by %s.\n", removed,
                who.constData());
    for (int i = 0; i < zimble::BoardSizeCount; ++i) {
        const QString board = boardName(zimble::MinBoardSize + i);
        if (before[i].score == after[i].score && before[i].holder == after[i].holder)
            std::printf("%s: record unchanged, %s\n", qPrintable(board), qPrintable(recordText(after[i])));
        else
            std::printf("%s: record %s -> %s\n", qPrintable(board), qPrintable(recordText(before[i])),
                        qPrintable(recordText(after[i])));
    }
    return 0;
}

// --export, --import, --backup: what they did, or why not (nothing stored then by --import).
int transfer(zimble::server::ScoreStore& store, const QString& exportTo, const QString& importFrom, const QString& backupTo,
             bool refuseDuplicates)
{
    qint64 rows = 0;
    if (!exportTo.isEmpty()) {
        QSaveFile out(exportTo);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "zimble-scored: cannot write %s: %s\n", qPrintable(exportTo), qPrintable(out.errorString()));
            return 1;
        }
        const zimble::server::Status s = store.exportCsv(out, &rows);
        if (!s || !out.commit()) {
            std::fprintf(stderr, "zimble-scored: exporting failed: %s\n",
                         zimble::server::logSafe(s ? out.errorString() : s.reason()).constData());
            return 1;
        }
        std::printf("Exported %lld row(s) to %s.\n", static_cast<long long>(rows), qPrintable(exportTo));
        return 0;
    }
    if (!importFrom.isEmpty()) {
        QFile in(importFrom);
        if (!in.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "zimble-scored: cannot read %s: %s\n", qPrintable(importFrom), qPrintable(in.errorString()));
            return 1;
        }
        zimble::server::ImportOutcome done;
        if (const zimble::server::Status s = store.importCsv(in, &done, refuseDuplicates); !s) {
            std::fprintf(stderr, "zimble-scored: importing %s failed, nothing stored: %s\n", qPrintable(importFrom),
                         zimble::server::logSafe(s.reason()).constData());
            return 1;
        }
        std::printf("Imported %lld row(s) from %s.\n", static_cast<long long>(done.rows), qPrintable(importFrom));
        if (done.duplicates > 0)
            std::printf("%lld of them were stored already (the same time, board, ZQ and name); "
                        "--refuse-duplicates refuses such a file.\n", static_cast<long long>(done.duplicates));
        return 0;
    }
    if (const zimble::server::Status s = store.backup(backupTo); !s) {
        std::fprintf(stderr, "zimble-scored: backup failed: %s\n", zimble::server::logSafe(s.reason()).constData());
        return 1;
    }
    std::printf("Backed up the database to %s.\n", qPrintable(backupTo));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zimble-scored"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    zimble::server::installLogPattern();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Zimble world high-score service. Serves the game's score exchange (/zm2.asp), "
        "its web page (/zimble1.asp), a health check (/health) and metrics (/metrics). "
        "With --list or --remove-name it moderates the database instead, and exits."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("Address and port to serve on (default 127.0.0.1:8417)."),
                              QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:8417"));
    QCommandLineOption db(QStringLiteral("db"),
                          QStringLiteral("SQLite database file, or postgresql://user@host:port/database, the password "
                                         "from PGPASSWORD or ~/.pgpass (default zimble-scores.sqlite)."),
                          QStringLiteral("PATH-or-URL"), QStringLiteral("zimble-scores.sqlite"));
    QCommandLineOption rate(QStringLiteral("rate-limit"),
                            QStringLiteral("Valid submissions accepted per client address per minute; 0 for no limit (default 10)."),
                            QStringLiteral("N"), QStringLiteral("10"));
    QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Do not log requests."));
    QCommandLineOption maxConnections(QStringLiteral("max-connections"),
                                      QStringLiteral("Open connections served at once, from all addresses (default 1024)."),
                                      QStringLiteral("N"), QStringLiteral("1024"));
    QCommandLineOption trustedProxy(QStringLiteral("trusted-proxy"),
                                    QStringLiteral("Reverse proxies whose X-Forwarded-For is believed: for requests from them "
                                                   "the client is the header's last address."),
                                    QStringLiteral("ADDRESS[,ADDRESS...]"));
    QCommandLineOption metricsFrom(QStringLiteral("metrics-from"),
                                   QStringLiteral("Clients that may read /metrics (default: loopback addresses)."),
                                   QStringLiteral("ADDRESS[,ADDRESS...]"));
    QCommandLineOption verifiedOnly(QStringLiteral("verified-only"),
                                    QStringLiteral("Count only verified games (replayed by the service) for the world "
                                                   "records, the ten best and ranks; replies carry the verified records."));
    QCommandLineOption list(QStringLiteral("list"), QStringLiteral("Print stored submissions (newest first) and exit."));
    QCommandLineOption board(QStringLiteral("board"),
                             QStringLiteral("With --list: only submissions with a score on board N (4 to 7), highest first."),
                             QStringLiteral("N"));
    QCommandLineOption name(QStringLiteral("name"), QStringLiteral("With --list: only the submissions of this name."),
                            QStringLiteral("NAME"));
    QCommandLineOption limit(QStringLiteral("limit"), QStringLiteral("With --list: at most K lines (default 50)."),
                             QStringLiteral("K"), QStringLiteral("50"));
    QCommandLineOption removeNameOption(QStringLiteral("remove-name"),
                                        QStringLiteral("Delete every submission of NAME, recompute the records from what "
                                                       "remains, print what changed, and exit."),
                                        QStringLiteral("NAME"));
    QCommandLineOption exportOption(QStringLiteral("export"),
                                    QStringLiteral("Write every submission to FILE as CSV (time,board,zq,name,verified), "
                                                   "one row per board score, and exit."),
                                    QStringLiteral("FILE"));
    QCommandLineOption importOption(QStringLiteral("import"),
                                    QStringLiteral("Store the rows of a CSV file of that format, all or none, and exit."),
                                    QStringLiteral("FILE"));
    QCommandLineOption backupOption(QStringLiteral("backup"),
                                    QStringLiteral("Copy the live SQLite database to FILE, consistently, and exit "
                                                   "(PostgreSQL: use pg_dump)."),
                                    QStringLiteral("FILE"));
    QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("With --remove-name: show what would be removed, change nothing."));
    QCommandLineOption refuseDuplicates(QStringLiteral("refuse-duplicates"),
                                        QStringLiteral("With --import: store nothing when a row is stored already."));
    parser.addOptions({listen, db, rate, quiet, maxConnections, trustedProxy, metricsFrom, verifiedOnly, list, board, name,
                       limit, removeNameOption, exportOption, importOption, backupOption, dryRun, refuseDuplicates});
    // A wrong option or a stray argument is a usage error (status 2), like a wrong value.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "zimble-scored: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zimble-scored: unexpected argument \"%s\" (every option starts with --)\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }

    auto usage = [](const char* text) {
        std::fprintf(stderr, "zimble-scored: %s\n", text);
        return 2;
    };

    const int commands = int(parser.isSet(list)) + int(parser.isSet(removeNameOption)) + int(parser.isSet(exportOption))
        + int(parser.isSet(importOption)) + int(parser.isSet(backupOption));
    if (commands > 1)
        return usage("--list, --remove-name, --export, --import and --backup go one at a time");
    if (commands == 1 && !parser.isSet(db))
        return usage("--list, --remove-name, --export, --import and --backup want --db");
    // A command on stored data never makes a new, empty database where a path was mistyped.
    if (const QFileInfo file(parser.value(db));
        commands == 1 && !parser.value(db).contains(QLatin1String("://")) && file.absoluteDir().exists() && !file.exists()) {
        std::fprintf(stderr, "zimble-scored: cannot open the database %s: no such file\n", qPrintable(parser.value(db)));
        return 1;
    }
    if (parser.isSet(exportOption) || parser.isSet(importOption) || parser.isSet(backupOption)) {
        for (const QCommandLineOption* o : {&exportOption, &importOption, &backupOption})
            if (parser.isSet(*o) && parser.value(*o).isEmpty())
                return usage("--export, --import and --backup want a file");
        zimble::server::ScoreStore store(parser.value(db));
        if (!store.isOpen()) {
            std::fprintf(stderr, "zimble-scored: cannot open the database %s: %s\n",
                         qPrintable(zimble::server::printableLocation(parser.value(db))),
                         zimble::server::logSafe(store.openError()).constData());
            return 1;
        }
        return transfer(store, parser.value(exportOption), parser.value(importOption), parser.value(backupOption),
                        parser.isSet(refuseDuplicates));
    }
    if (parser.isSet(list) || parser.isSet(removeNameOption)) {
        bool ok = true;
        const int boardNumber = parser.isSet(board) ? parser.value(board).toInt(&ok) : 0;
        if (!ok || (parser.isSet(board) && !zimble::isBoardSize(boardNumber)))
            return usage("--board wants a board size from 4 to 7");
        const int lines = parser.value(limit).toInt(&ok);
        if (!ok || lines < 1)
            return usage("--limit wants a whole number from 1 up");
        if (parser.isSet(removeNameOption) && parser.value(removeNameOption).isEmpty())
            return usage("--remove-name wants a name");
        zimble::server::ScoreStore store(parser.value(db));
        if (!store.isOpen()) {
            std::fprintf(stderr, "zimble-scored: cannot open the database %s: %s\n", qPrintable(zimble::server::printableLocation(parser.value(db))),
                         zimble::server::logSafe(store.openError()).constData());
            return 1;
        }
        if (parser.isSet(list))
            return listSubmissions(store, boardNumber, parser.isSet(name) ? nameArgument(parser.value(name), argc, argv) : QString(), lines);
        return removeName(store, nameArgument(parser.value(removeNameOption), argc, argv), parser.isSet(dryRun));
    }
    if (parser.isSet(board) || parser.isSet(name))
        return usage("--board and --name go with --list");

    QHostAddress address;
    quint16 port = 0;
    if (!parseListen(parser.value(listen), address, port)) {
        std::fprintf(stderr, "zimble-scored: --listen wants ADDRESS:PORT, not \"%s\"\n", qPrintable(parser.value(listen)));
        return 2;
    }
    bool ok = false;
    const int perMinute = parser.value(rate).toInt(&ok);
    if (!ok || perMinute < 0)
        return usage("--rate-limit wants a whole number from 0 up");
    const int connections = parser.value(maxConnections).toInt(&ok);
    if (!ok || connections < 1)
        return usage("--max-connections wants a whole number from 1 up");
    zimble::server::ScoreService::Options options{parser.value(db), perMinute, !parser.isSet(quiet)};
    // Each connection holds a descriptor: serve no more than the descriptor limit leaves room for.
    const int descriptors = zimble::server::HttpServer::raiseDescriptorLimit();
    options.maxConnections = zimble::server::HttpServer::connectionCap(connections, descriptors);
    options.verifiedOnly = parser.isSet(verifiedOnly);
    if (parser.isSet(trustedProxy) && !parseAddresses(parser.value(trustedProxy), options.trustedProxies))
        return usage("--trusted-proxy wants IP addresses separated by commas");
    if (parser.isSet(metricsFrom) && !parseAddresses(parser.value(metricsFrom), options.metricsFrom))
        return usage("--metrics-from wants IP addresses separated by commas");

    zimble::server::ScoreService service(options);
    if (!service.isReady()) {
        std::fprintf(stderr, "zimble-scored: cannot open the database %s: %s\n", qPrintable(zimble::server::printableLocation(parser.value(db))),
                     zimble::server::logSafe(service.storeError()).constData());
        return 1;
    }
    const quint16 bound = service.listenOn(address, port);
    if (bound == 0) {
        std::fprintf(stderr, "zimble-scored: cannot listen on %s: %s\n", qPrintable(parser.value(listen)), qPrintable(listenProblem(service.listenError())));
        return 1;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&service] {
        char byte;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &byte, 1);
        sd_notify(0, "STOPPING=1");
        qCInfo(zimble::server::lcService, "zimble-scored: stopping");
        // Take no new connections; answer the submissions being stored, then end (within 5 s).
        service.stopAccepting([] { QCoreApplication::quit(); });
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::quit(); });
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // A client gone while its reply is written must not end the service.
    ::signal(SIGPIPE, SIG_IGN);

    std::fprintf(stderr, "zimble-scored: serving on %s:%u, database %s, rate limit %d per minute, "
                         "at most %d connections (%d descriptors)\n",
                 qPrintable(address.toString()), bound, qPrintable(zimble::server::printableLocation(parser.value(db))),
                 perMinute, options.maxConnections, descriptors);
    std::fflush(stderr);
    // systemd (Type=notify) starts what depends on the service only now that it listens.
    sd_notify(0, "READY=1");
    return app.exec();
}
