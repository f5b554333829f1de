#include "pages.h"

#include "chart.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QTextStream>
#include <QUrl>

#include <algorithm>

namespace zimble::server {

namespace {

// One style sheet for both pages. Rows are flex lines that wrap: a column is as wide as its
// longest word needs and a row too narrow for a long name moves the score and date below it, so
// no width needs tuning. Only on a phone may a single word wider than the whole row break; a
// name with a very long word is set smaller on wider screens so that it never has to.
const QByteArray PageStyle =
    ":root{color-scheme:light dark;--bg:#f7f5ff;--fg:#1c1736;--muted:#4f4874;--head:#6b4a00;--title:#a35f00;"
    "--link:#1d58a0;--zq:#a8231a;--ok:#11743a;--line:rgba(0,0,0,.13);--box:#fff;--me:#fff3c4}\n"
    "@media (prefers-color-scheme:dark){:root{--bg:#17123f;--fg:#f0ecff;--muted:#cfc8ff;--head:#ffd76a;"
    "--title:#ffc02a;--link:#a9d4ff;--zq:#ff8c7c;--ok:#7dffa0;--line:rgba(255,255,255,.14);--box:#231c52;--me:#3d3170}}\n"
    "*{box-sizing:border-box}\n"
    "body{margin:0;font-family:'DejaVu Sans',Verdana,sans-serif;background:var(--bg);color:var(--fg);line-height:1.35}\n"
    "main{max-width:1800px;margin:0 auto;padding:16px clamp(8px,2vw,28px)}\n"
    "h1{font-size:2.2em;margin:.2em 0;color:var(--title);letter-spacing:.08em}\n"
    "h2{font-size:1.25em;margin:.8em 0 .3em}\n"
    "h3{font-size:1em;color:var(--muted);margin:.6em 0 .2em}\n"
    "a{color:var(--link)}\n"
    ".lead{color:var(--muted)}.note{color:var(--ok)}\n"
    ".list{list-style:none;margin:0 0 1em;padding:0;background:var(--box);font-size:.9em;border-radius:4px}\n"
    ".row{display:flex;flex-wrap:wrap;align-items:baseline;column-gap:.75em;padding:.35em .6em;"
    "border-bottom:1px solid var(--line)}\n"
    ".row.head{font-weight:600;color:var(--head)}.row.me{background:var(--me)}\n"
    ".rank{flex:0 0 2.2em;text-align:right;white-space:nowrap}\n"
    ".records .rank{flex-basis:3.6em;text-align:left}\n"
    ".who{flex:1 1 7em;max-width:100%;overflow-wrap:break-word}\n"
    ".end{flex:0 0 auto;margin-left:auto;display:flex;column-gap:.75em;white-space:nowrap}\n"
    ".zq{min-width:5em;text-align:right;font-family:'DejaVu Sans Mono',monospace;color:var(--zq)}\n"
    ".date{min-width:6.4em;color:var(--muted)}.records .date{min-width:10.5em}\n"
    ".mark{color:var(--ok);white-space:nowrap;cursor:help}a.mark{cursor:pointer;text-decoration:none}\n"
    "@media (min-width:500px){.long{font-size:clamp(8px,calc((100vw - 64px)/58),1em)}}\n"
    ".boards{display:flex;flex-wrap:wrap;gap:0 24px}\n"
    ".board{flex:1 1 36em;max-width:100%}\n"
    ".lists{display:flex;flex-wrap:wrap;gap:0 16px}\n"
    ".lists>div{flex:1 1 22em;max-width:100%}\n"
    ".board h2{color:var(--link)}\n"
    ".best{margin:.3em 0}.best .zq{min-width:0}\n"
    + chartStyle() +
    "footer{color:var(--muted);font-size:.85em;margin-top:2em}\n"
    "@media print{:root{--bg:#fff;--fg:#000;--muted:#333;--head:#000;--title:#000;--link:#000;--zq:#000;--ok:#000;"
    "--line:#999;--box:#fff;--me:#eee}body{font-size:11pt}a{text-decoration:none}"
    ".row,.chart{break-inside:avoid}.long{font-size:1em}}\n";

// No scripts, no outside resources; only the page's own style sheet, named by its hash.
const QByteArray PagePolicy = "default-src 'none'; style-src 'sha256-"
    + QCryptographicHash::hash(PageStyle, QCryptographicHash::Sha256).toBase64()
    + "'; img-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

const QLocale English(QLocale::English, QLocale::UnitedStates);

// A word longer than this is set smaller on wide screens, so that it never has to break.
constexpr int LongWord = 20;

QString esc(const QString& s)
{
    return s.toHtmlEscaped();
}

bool hasLongWord(const QString& name)
{
    qsizetype run = 0;
    for (const QChar ch : name) {
        run = ch.isSpace() || ch == QLatin1Char('-') ? 0 : run + 1;
        if (run > LongWord)
            return true;
    }
    return false;
}

QString whoClass(const QString& name)
{
    return hasLongWord(name) ? QStringLiteral("who long") : QStringLiteral("who");
}

// The verified mark, a link to the game's replay when it is known.
QString mark(bool verified, qint64 replay)
{
    if (!verified)
        return {};
    const QString title = QStringLiteral("title=\"Verified: the service replayed this game with the game&rsquo;s own "
                                         "scoring and it gives this ZQ.\">&#10004;");
    return replay > 0 ? QStringLiteral(" <a class=\"mark\" href=\"%1\" %2</a>").arg(replayLink(replay), title)
                      : QStringLiteral(" <span class=\"mark\" %1</span>").arg(title);
}

// Says on the page what the mark means: its tooltip alone is never seen on a phone.
QString markNote(bool verifiedOnly)
{
    return QStringLiteral("<p class=\"note\">%1&#10004; marks a verified game: the service replayed it with the "
                          "game&rsquo;s own scoring and it gives the ZQ shown; follow the mark to watch the game click by click.</p>\n")
        .arg(verifiedOnly ? QStringLiteral("Only verified games count here. ") : QString());
}

QString nameCell(const QString& name, bool verified, qint64 replay)
{
    return QStringLiteral("<span class=\"%1\"><a href=\"%2\">%3</a>%4</span>")
        .arg(whoClass(name), esc(playerLink(name)), esc(name), mark(verified, replay));
}

QString rowStart(bool verified, bool me = false)
{
    return QStringLiteral("<li class=\"row%1\"%2>")
        .arg(me ? QStringLiteral(" me") : QString(), verified ? QStringLiteral(" data-verified=\"yes\"") : QString());
}

QString day(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QString minute(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC")
                       : QStringLiteral("&mdash;");
}

QString head(const QString& title)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>%1</title>\n"
                          "<style>%2</style>\n</head>\n<body>\n<main>\n<h1>ZIMBLE</h1>\n")
        .arg(title, QString::fromLatin1(PageStyle));
}

// Ranked rows, the first at `firstRank`; `me` is highlighted.
QString rankedList(const QList<RankedEntry>& entries, qint64 firstRank, const QString& empty, const QString& me = {})
{
    QString out = QStringLiteral("<ol class=\"list\">\n<li class=\"row head\"><span class=\"rank\">#</span>"
                                 "<span class=\"who\">Name</span><span class=\"end\"><span class=\"zq\">ZQ</span>"
                                 "<span class=\"date\">Date</span></span></li>\n");
    if (entries.isEmpty())
        out += QStringLiteral("<li class=\"row\"><span class=\"who\">%1</span></li>\n").arg(empty);
    for (qsizetype k = 0; k < entries.size(); ++k) {
        const RankedEntry& e = entries[k];
        out += rowStart(e.verified, !me.isNull() && e.name == me)
            + QStringLiteral("<span class=\"rank\">%1</span>%2<span class=\"end\"><span class=\"zq\">%3</span>"
                             "<span class=\"date\">%4</span></span></li>\n")
                  // In one pass: a name may hold "%1" and its link "%2F".
                  .arg(QString::number(firstRank + k), nameCell(e.name, e.verified, e.replay), QString::number(e.score), day(e.at));
    }
    return out + QStringLiteral("</ol>\n");
}

bool anyVerified(const QList<RankedEntry>& entries)
{
    return std::any_of(entries.begin(), entries.end(), [](const RankedEntry& e) { return e.verified; });
}

bool anyVerified(const PageData& data)
{
    for (int i = 0; i < BoardSizeCount; ++i) {
        if (data.records[i].verified || anyVerified(data.best[i]) || anyVerified(data.week[i]))
            return true;
    }
    return false;
}

bool anyVerified(const QList<PlayerDetail>& players)
{
    for (const PlayerDetail& p : players) {
        for (const PlayerBoardDetail& b : p.boards) {
            if (b.verified || anyVerified(b.around.entries))
                return true;
        }
    }
    return false;
}

} // namespace

QList<std::pair<QByteArray, QByteArray>> pageHeaders()
{
    // Made once and shared: every page reply starts from these.
    static const QList<std::pair<QByteArray, QByteArray>> headers{
        {"Cache-Control", "public, max-age=" + QByteArray::number(PageMaxAgeSeconds)},
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy", PagePolicy},
        {"Referrer-Policy", "no-referrer"}};
    return headers;
}

QByteArray pageStyleSheet()
{
    return PageStyle;
}

QString replayLink(qint64 replay)
{
    return QStringLiteral("/replay?id=%1").arg(replay);
}

QString playerLink(const QString& name)
{
    return QStringLiteral("/zimble1.asp?name=") + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

QByteArray recordsPage(const PageData& data)
{
    QDateTime latest;
    QString out;
    QTextStream html(&out);
    html << head(QStringLiteral("Zimble World High ZQs"))
         << "<p class=\"lead\">The world&rsquo;s highest ZQs. The rules are yours to find out.</p>\n"
         << (data.verifiedOnly || anyVerified(data) ? markNote(data.verifiedOnly) : QString())
         << "<h2>World records</h2>\n<ol class=\"list records\">\n"
            "<li class=\"row head\"><span class=\"rank\">Board</span><span class=\"who\">Record holder</span>"
            "<span class=\"end\"><span class=\"zq\">ZQ</span><span class=\"date\">Set</span></span></li>\n";
    for (int i = 0; i < BoardSizeCount; ++i) {
        const WorldRecord& r = data.records[i];
        if (r.setAt.isValid() && (!latest.isValid() || r.setAt > latest))
            latest = r.setAt;
        html << rowStart(r.verified) << "<span class=\"rank\">" << (MinBoardSize + i) << "&nbsp;&times;&nbsp;" << (MinBoardSize + i) << "</span>"
             << (r.holder.isEmpty() ? QStringLiteral("<span class=\"who\">&mdash;</span>") : nameCell(r.holder, r.verified, r.replay))
             << "<span class=\"end\"><span class=\"zq\">" << r.score << "</span><span class=\"date\">" << minute(r.setAt)
             << "</span></span></li>\n";
    }
    html << "</ol>\n<h2>The ten best of each board</h2>\n<div class=\"boards\">\n";
    for (int i = 0; i < BoardSizeCount; ++i) {
        const int board = FirstBoard + i;
        html << "<section class=\"board\"><h2>" << board << " &times; " << board << "</h2>\n<div class=\"lists\">\n"
             << "<div><h3>All time</h3>\n" << rankedList(data.best[i], 1, QStringLiteral("No scores yet.")) << "</div>\n"
             << "<div><h3>This week</h3>\n" << rankedList(data.week[i], 1, QStringLiteral("No scores this week yet."))
             << "</div>\n</div></section>\n";
    }
    html << "</div>\n<footer>Latest record: " << minute(latest) << "</footer>\n</main>\n</body>\n</html>\n";
    html.flush();
    return out.toUtf8();
}

QByteArray playerPage(const QString& name, const FoundPlayers& found, bool verifiedOnly)
{
    const QList<PlayerDetail>& players = found.players;
    QString out;
    QTextStream html(&out);
    html << head(QStringLiteral("Zimble: ") + esc(name)) << "<p class=\"lead\"><a href=\"/zimble1.asp\">All records</a></p>\n";
    if (anyVerified(players))
        html << markNote(verifiedOnly);
    if (players.isEmpty()) {
        html << "<h2 class=\"" << whoClass(name) << "\">" << esc(name) << "</h2>\n<p class=\"lead\">No "
             << (verifiedOnly ? "verified " : "") << "scores under this name yet.</p>\n";
    } else if (players.size() + found.more > 1) {
        html << "<p class=\"lead\">" << English.toString(players.size() + found.more)
             << " players have names that differ from &ldquo;" << esc(name) << "&rdquo; only in case.</p>\n";
    }
    for (const PlayerDetail& p : players) {
        html << "<h2 class=\"" << whoClass(p.name) << "\">" << esc(p.name) << "</h2>\n<div class=\"boards\">\n";
        for (const PlayerBoardDetail& b : p.boards) {
            html << "<section class=\"board\"><h2>" << b.board << " &times; " << b.board << "</h2>\n<p class=\"best\""
                 << (b.verified ? " data-verified=\"yes\"" : "") << ">Best ZQ <span class=\"zq\">" << b.score << "</span>"
                 << mark(b.verified, b.replay) << ", <span class=\"place\">" << ordinal(b.rank.rank) << " of "
                 << English.toString(b.rank.players) << "</span>, set " << day(b.at) << "</p>\n<h3>Around "
                 << (b.rank.rank == 1 ? "the top" : "this place") << "</h3>\n"
                 << rankedList(b.around.entries, b.around.firstRank, {}, p.name) << "<h3>History</h3>\n"
                 << historyChart(b.board, b.history, b.score, b.at)
                 << "</section>\n";
        }
        html << "</div>\n";
    }
    if (found.more > 0)
        html << "<p class=\"lead\">and " << English.toString(found.more) << " more</p>\n";
    html << "<footer><a href=\"/zimble1.asp\">All records</a></footer>\n</main>\n</body>\n</html>\n";
    html.flush();
    return out.toUtf8();
}

QString ordinal(qint64 n)
{
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    const char* suffix = (lastTwo >= 11 && lastTwo <= 13) ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
    return English.toString(n) + QLatin1String(suffix);
}

} // namespace zimble::server
