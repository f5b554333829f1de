#include "commandline.h"

#include "scores/codepage.h"

#include "game/boardsize.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <optional>

namespace zimble::server {

namespace {

using Error = CommandLineError;

QString opt(const char* name)
{
    return QString::fromLatin1(name);
}

QList<QCommandLineOption> servingOptions()
{
    return {
        {opt("listen"), opt("Address and port to serve on (default 127.0.0.1:8417)."), opt("ADDRESS:PORT"), opt("127.0.0.1:8417")},
        {opt("db"),
         opt("SQLite database file, or postgresql://user@host:port/database, the password from PGPASSWORD or "
             "~/.pgpass (default zimble-scores.sqlite when serving; the commands below need it given)."),
         opt("PATH-or-URL")},
        {opt("rate-limit"), opt("Valid submissions accepted per client address per minute; 0 for no limit (default 10)."),
         opt("N"), opt("10")},
        {opt("quiet"), opt("Do not log requests.")},
        {opt("max-connections"), opt("Open connections served at once, from all addresses (default 1024)."), opt("N"),
         opt("1024")},
        {opt("trusted-proxy"),
         opt("Reverse proxies whose X-Forwarded-For is believed: for requests from them the client is the header's "
             "last address."),
         opt("ADDRESS[,ADDRESS...]")},
        {opt("metrics-from"), opt("Clients that may read /metrics (default: loopback addresses)."), opt("ADDRESS[,ADDRESS...]")},
        {opt("ipv6-prefix"),
         opt("Count IPv6 clients by their network of this prefix length, for the rate limits and the "
             "connections per client (default 64)."),
         opt("N"), opt("64")},
        {opt("verified-only"),
         opt("Count only verified games (replayed by the service) for the world records, the ten best and ranks; "
             "replies carry the verified records.")},
    };
}

// The commands that work on the database given with --db, then exit.
QList<QCommandLineOption> commandOptions()
{
    return {
        {opt("list"), opt("Moderation: print stored submissions (newest first) and exit.")},
        {opt("board"), opt("With --list: only submissions with a score on board N (4 to 7), highest first."), opt("N")},
        {opt("name"), opt("With --list: only the submissions of this name."), opt("NAME")},
        {opt("limit"), opt("With --list: at most K lines (default 50)."), opt("K")},
        {opt("remove-name"),
         opt("Moderation: delete every submission of NAME, recompute the records from what remains, print what "
             "changed, and exit. Names match ignoring case, as on the pages."),
         opt("NAME")},
        {opt("dry-run"), opt("With --remove-name: show what would be removed, and change nothing.")},
        {opt("export"),
         opt("Write every submission to FILE as CSV (time,board,zq,name,verified), one row per board score, and exit."),
         opt("FILE")},
        {opt("import"),
         opt("Store the rows of a CSV file of that format, all or none, say how many were stored already, and exit."),
         opt("FILE")},
        {opt("refuse-duplicates"), opt("With --import: store nothing when any row is stored already.")},
        {opt("backup"), opt("Copy the live SQLite database to FILE, consistently, and exit (PostgreSQL: use pg_dump)."),
         opt("FILE")},
    };
}

const char* const Description =
    "The Zimble world high-score service. Serves the game's score exchange (/zm2.asp), its web page "
    "(/zimble1.asp), a read-only JSON API (/api/v1/records, /api/v1/players/NAME; see docs/api.md and "
    "zimble-scored(1)), a health check (/health) and metrics (/metrics).\n"
    "Commands that work on the database named by --db instead, one at a time, and exit: --list and "
    "--remove-name (moderation), --export, --import and --backup.";

// "ADDRESS:PORT", "[IPv6]:PORT", "localhost:PORT" or "*:PORT".
std::optional<Error> readListen(const QString& text, CommandLine& out)
{
    const Error usage{QStringLiteral("--listen wants ADDRESS:PORT, not \"%1\"").arg(text)};
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return usage;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const QString portText = text.mid(colon + 1);
    bool ok = false;
    const qulonglong p = portText.toULongLong(&ok);
    if (!ok || portText.isEmpty() || !std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); }))
        return usage;
    if (p > 65535)
        return Error{QStringLiteral("--listen: port %1 is out of range (0 to 65535)").arg(portText)};
    out.port = quint16(p);
    if (host == QLatin1String("localhost"))
        out.address = QHostAddress(QHostAddress::LocalHost);
    else if (host == QLatin1String("*"))
        out.address = QHostAddress(QHostAddress::Any);
    else if (!out.address.setAddress(host))
        return usage;
    out.listen = text;
    return std::nullopt;
}

bool readAddresses(const QString& text, QList<QHostAddress>& out)
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

// The parser's complaint, with an unknown option named as it was typed, dashes and all.
Error parseError(const QCommandLineParser& parser, const QStringList& arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return {parser.errorText()};
    for (const QString& a : arguments.mid(1)) {
        QString name = a.section(QLatin1Char('='), 0, 0);
        if (name.startsWith(QLatin1Char('-')) && QString(name).remove(0, name.startsWith(QLatin1String("--")) ? 2 : 1) == unknown.first())
            return {QStringLiteral("unknown option %1 (see --help)").arg(name)};
    }
    return {QStringLiteral("unknown option --%1 (see --help)").arg(unknown.first())};
}

std::optional<Error> readCommand(const QCommandLineParser& parser, CommandLine& out)
{
    using C = CommandLine::Command;
    const std::pair<const char*, C> commands[] = {
        {"list", C::List}, {"remove-name", C::RemoveName}, {"export", C::Export}, {"import", C::Import}, {"backup", C::Backup}};
    int given = 0;
    for (const auto& [name, command] : commands) {
        if (parser.isSet(opt(name))) {
            out.command = command;
            ++given;
        }
    }
    if (given > 1)
        return Error{QStringLiteral("--list, --remove-name, --export, --import and --backup go one at a time")};
    for (const char* name : {"export", "import", "backup"}) {
        if (parser.isSet(opt(name))) {
            out.file = parser.value(opt(name));
            if (out.file.isEmpty())
                return Error{QStringLiteral("--export, --import and --backup want a file")};
        }
    }
    if (out.command != C::List) {
        for (const char* name : {"board", "name", "limit"})
            if (parser.isSet(opt(name)))
                return Error{QStringLiteral("--%1 goes with --list").arg(opt(name))};
    }
    if (out.command != C::RemoveName && parser.isSet(opt("dry-run")))
        return Error{QStringLiteral("--dry-run goes with --remove-name")};
    if (out.command != C::Import && parser.isSet(opt("refuse-duplicates")))
        return Error{QStringLiteral("--refuse-duplicates goes with --import")};
    out.dryRun = parser.isSet(opt("dry-run"));
    if (parser.isSet(opt("refuse-duplicates")))
        out.duplicates = CommandLine::Duplicates::Refuse;
    if (out.command == C::Serve)
        return std::nullopt;
    if (!out.databaseGiven)
        return Error{QStringLiteral("--%1 needs --db, the database to work on").arg(opt(commands[int(out.command) - 1].first))};
    return std::nullopt;
}

std::optional<Error> readList(const QCommandLineParser& parser, int argc, char* argv[], CommandLine& out)
{
    bool ok = true;
    if (parser.isSet(opt("board"))) {
        out.board = parser.value(opt("board")).toInt(&ok);
        if (!ok || !isBoardSize(out.board))
            return Error{QStringLiteral("--board wants a board size from 4 to 7")};
    }
    if (parser.isSet(opt("limit"))) {
        out.limit = parser.value(opt("limit")).toInt(&ok);
        if (!ok || out.limit < 1)
            return Error{QStringLiteral("--limit wants a whole number from 1 up")};
    }
    if (parser.isSet(opt("name")))
        out.name = nameArgument(parser.value(opt("name")), argc, argv);
    if (parser.isSet(opt("remove-name"))) {
        if (parser.value(opt("remove-name")).isEmpty())
            return Error{QStringLiteral("--remove-name wants a name")};
        out.removeName = nameArgument(parser.value(opt("remove-name")), argc, argv);
    }
    return std::nullopt;
}

std::optional<Error> readServing(const QCommandLineParser& parser, CommandLine& out)
{
    if (const std::optional<Error> e = readListen(parser.value(opt("listen")), out))
        return e;
    bool ok = false;
    out.rateLimit = parser.value(opt("rate-limit")).toInt(&ok);
    if (!ok || out.rateLimit < 0)
        return Error{QStringLiteral("--rate-limit wants a whole number from 0 up")};
    out.maxConnections = parser.value(opt("max-connections")).toInt(&ok);
    if (!ok || out.maxConnections < 1)
        return Error{QStringLiteral("--max-connections wants a whole number from 1 up")};
    out.quiet = parser.isSet(opt("quiet"));
    out.verifiedOnly = parser.isSet(opt("verified-only"));
    out.ipv6Prefix = parser.value(opt("ipv6-prefix")).toInt(&ok);
    if (!ok || out.ipv6Prefix < 1 || out.ipv6Prefix > 128)
        return Error{QStringLiteral("--ipv6-prefix wants a prefix length from 1 to 128")};
    if (parser.isSet(opt("trusted-proxy")) && !readAddresses(parser.value(opt("trusted-proxy")), out.trustedProxies))
        return Error{QStringLiteral("--trusted-proxy wants IP addresses separated by commas")};
    if (parser.isSet(opt("metrics-from")) && !readAddresses(parser.value(opt("metrics-from")), out.metricsFrom))
        return Error{QStringLiteral("--metrics-from wants IP addresses separated by commas")};
    return std::nullopt;
}

} // namespace

bool isPostgresLocation(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://"));
}

std::variant<CommandLine, CommandLineError> readCommandLine(int argc, char* argv[])
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addOptions(servingOptions());
    parser.addOptions(commandOptions());
    const QStringList arguments = QCoreApplication::arguments();
    // A wrong option or a stray argument is a usage error (status 2), like a wrong value.
    if (!parser.parse(arguments))
        return parseError(parser, arguments);
    if (parser.isSet(helpOption) || parser.isSet(opt("help-all")))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return Error{QStringLiteral("unexpected argument \"%1\" (every option starts with --)").arg(parser.positionalArguments().constFirst())};
    CommandLine out;
    out.databaseGiven = parser.isSet(opt("db"));
    if (out.databaseGiven)
        out.database = parser.value(opt("db"));
    std::optional<Error> error = readCommand(parser, out);
    if (!error)
        error = out.command == CommandLine::Command::Serve ? readServing(parser, out) : readList(parser, argc, argv, out);
    if (error)
        return *error;
    return out;
}

} // namespace zimble::server
