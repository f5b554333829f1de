#pragma once
// The service program's command line, read once into one struct.

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

namespace zimble::server {

struct CommandLine {
    // What the program does: serve, or work on the database once and exit.
    enum class Command { Serve, List, RemoveName, Export, Import, Backup };
    Command command = Command::Serve;

    QString database = QStringLiteral("zimble-scores.sqlite");
    bool databaseGiven = false; // commands other than serving need --db

    // Serving.
    QString listen = QStringLiteral("127.0.0.1:8417"); // as given, for messages
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 8417;
    int rateLimit = 10;
    bool quiet = false;
    int maxConnections = 1024;
    QList<QHostAddress> trustedProxies;
    QList<QHostAddress> metricsFrom;
    int ipv6Prefix = 64; // IPv6 clients are counted by their network of this length
    bool verifiedOnly = false;

    // --list: a board (0: all), one name (null: all), at most `limit` lines.
    int board = 0;
    QString name;
    int limit = 50;
    // --remove-name: the name; with dryRun only what would be removed is shown.
    QString removeName;
    bool dryRun = false;
    // --export, --import, --backup: the file.
    QString file;
    // --import: rows already stored (same time, board, score and name) are stored again (and
    // counted), or refuse the whole file.
    enum class Duplicates { Store, Refuse };
    Duplicates duplicates = Duplicates::Store;
};

// Why the command line cannot be followed: the message for standard error and the exit status
// (2 for a usage error).
struct CommandLineError {
    QString message;
    int status = 2;
};

// Reads the program's arguments (argv as typed, for names that are not in the locale's encoding).
// --help and --version print and end the program here.
std::variant<CommandLine, CommandLineError> readCommandLine(int argc, char* argv[]);

// Whether a database location names PostgreSQL rather than an SQLite file.
bool isPostgresLocation(const QString& location);

} // namespace zimble::server
