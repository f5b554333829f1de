// zimble-scored: the Zimble world high-score service.

#include "commandline.h"
#include "logging.h"
#include "scoreservice.h"
#include "server/store/copytarget.h"
#include "server/store/scorestore.h"

#include "scores/codepage.h"

#include <QFileInfo>
#include <QCoreApplication>
#include <QFile>
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

QString boardName(int board)
{
    return QStringLiteral("%1 x %1").arg(board);
}

QString recordText(const zimble::server::WorldRecord& r)
{
    return r.holder.isEmpty() ? QStringLiteral("none") : QStringLiteral("%1 by %2").arg(QString::number(r.score), QString::fromUtf8(zimble::server::logSafe(r.holder)));
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

// --remove-name: deletes the submissions of every name folding like the one given (or, with
// dryRun, only says what it would delete) and what happened to each record.
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
int exportTo(zimble::server::ScoreStore& store, const QString& database, const QString& file)
{
    qint64 rows = 0;
    // Written to a new file renamed over the target, which must not be the database or a device.
    const QString problem = zimble::server::copyTargetProblem(file, zimble::server::isPostgresLocation(database) ? QString() : database);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "zimble-scored: cannot export to %s: %s\n", qPrintable(file), qPrintable(problem));
        return 1;
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "zimble-scored: cannot write %s: %s\n", qPrintable(file), qPrintable(out.errorString()));
        return 1;
    }
    const zimble::server::Status exported = store.exportCsv(out, &rows);
    if (!exported || !out.commit()) {
        std::fprintf(stderr, "zimble-scored: exporting failed: %s\n",
                     zimble::server::logSafe(exported ? out.errorString() : exported.reason()).constData());
        return 1;
    }
    std::printf("Exported %lld row(s) to %s.\n", static_cast<long long>(rows), qPrintable(file));
    return 0;
}

int importFrom(zimble::server::ScoreStore& store, const QString& file, bool refuseDuplicates)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "zimble-scored: cannot read %s: %s\n", qPrintable(file), qPrintable(in.errorString()));
        return 1;
    }
    zimble::server::ImportOutcome done;
    if (const zimble::server::Status s = store.importCsv(in, &done, refuseDuplicates); !s) {
        std::fprintf(stderr, "zimble-scored: importing %s failed, nothing stored: %s\n", qPrintable(file),
                     zimble::server::logSafe(s.reason()).constData());
        return 1;
    }
    std::printf("Imported %lld row(s) from %s.\n", static_cast<long long>(done.rows), qPrintable(file));
    if (done.duplicates > 0)
        std::printf("%lld of them were stored already (the same time, board, ZQ and name); "
                    "--refuse-duplicates refuses such a file.\n", static_cast<long long>(done.duplicates));
    return 0;
}

int backupTo(zimble::server::ScoreStore& store, const QString& file)
{
    if (const zimble::server::Status s = store.backup(file); !s) {
        std::fprintf(stderr, "zimble-scored: backup failed: %s\n", zimble::server::logSafe(s.reason()).constData());
        return 1;
    }
    std::printf("Backed up the database to %s.\n", qPrintable(file));
    return 0;
}

// A command on the database: it must exist (only --import may fill a new SQLite file), and is
// opened as given.
int runCommand(const zimble::server::CommandLine& line)
{
    using Command = zimble::server::CommandLine::Command;
    const QString where = zimble::server::printableLocation(line.database);
    const QFileInfo file(line.database);
    // A missing folder is reported by the store, which names it.
    if (!zimble::server::isPostgresLocation(line.database) && line.command != Command::Import && !file.exists()
        && QFileInfo(file.absolutePath()).isDir()) {
        std::fprintf(stderr, "zimble-scored: cannot open the database %s: file %s does not exist\n", qPrintable(where),
                     qPrintable(line.database));
        return 1;
    }
    zimble::server::ScoreStore store(line.database);
    if (!store.isOpen()) {
        std::fprintf(stderr, "zimble-scored: cannot open the database %s: %s\n", qPrintable(where),
                     zimble::server::logSafe(store.openError()).constData());
        return 1;
    }
    switch (line.command) {
    case Command::List:
        return listSubmissions(store, line.board, line.name, line.limit);
    case Command::RemoveName:
        return removeName(store, line.removeName, line.dryRun);
    case Command::Export:
        return exportTo(store, line.database, line.file);
    case Command::Import:
        return importFrom(store, line.file, line.duplicates == zimble::server::CommandLine::Duplicates::Refuse);
    case Command::Backup:
        return backupTo(store, line.file);
    case Command::Serve:
        break;
    }
    return 2;
}

// SIGTERM and SIGINT stop the service gracefully, through the event loop.
bool handleSignals(QCoreApplication& app, zimble::server::ScoreService& service, QSocketNotifier*& notifier)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&service] {
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
    return true;
}

int serve(QCoreApplication& app, const zimble::server::CommandLine& line)
{
    zimble::server::ScoreService::Options options{line.database, line.rateLimit, !line.quiet};
    // Each connection holds a descriptor: serve no more than the descriptor limit leaves room for.
    const int descriptors = zimble::server::HttpServer::raiseDescriptorLimit();
    options.maxConnections = zimble::server::HttpServer::connectionCap(line.maxConnections, descriptors);
    options.verifiedOnly = line.verifiedOnly;
    options.trustedProxies = line.trustedProxies;
    options.metricsFrom = line.metricsFrom;
    options.ipv6Prefix = line.ipv6Prefix;
    const QString where = zimble::server::printableLocation(line.database);

    zimble::server::ScoreService service(options);
    if (!service.isReady()) {
        std::fprintf(stderr, "zimble-scored: cannot open the database %s: %s\n", qPrintable(where),
                     zimble::server::logSafe(service.storeError()).constData());
        return 1;
    }
    const quint16 bound = service.listenOn(line.address, line.port);
    if (bound == 0) {
        std::fprintf(stderr, "zimble-scored: cannot listen on %s: %s\n", qPrintable(line.listen),
                     qPrintable(listenProblem(service.listenError())));
        return 1;
    }
    QSocketNotifier* notifier = nullptr;
    if (!handleSignals(app, service, notifier))
        return 1;
    std::fprintf(stderr, "zimble-scored: serving on %s:%u, database %s, rate limit %d per minute, "
                         "at most %d connections (%d descriptors)\n",
                 qPrintable(line.address.toString()), bound, qPrintable(where), line.rateLimit, options.maxConnections,
                 descriptors);
    std::fflush(stderr);
    // systemd (Type=notify) starts what depends on the service only now that it listens.
    sd_notify(0, "READY=1");
    const int status = app.exec();
    delete notifier;
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zimble-scored"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZIMBLE_VERSION));
    zimble::server::installLogPattern();

    const auto read = zimble::server::readCommandLine(argc, argv);
    if (const auto* error = std::get_if<zimble::server::CommandLineError>(&read)) {
        std::fprintf(stderr, "zimble-scored: %s\n", qPrintable(error->message));
        return error->status;
    }
    const auto& line = std::get<zimble::server::CommandLine>(read);
    return line.command == zimble::server::CommandLine::Command::Serve ? serve(app, line) : runCommand(line);
}
