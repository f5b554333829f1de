#include "pages.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QTextStream>

namespace zimble::server {

namespace {

const QByteArray PageStyle =
    "*{box-sizing:border-box}\n"
    "body{margin:0;font-family:'DejaVu Sans',Verdana,sans-serif;background:linear-gradient(#14103c,#461459);"
    "color:#f0ecff;min-height:100vh}\n"
    "main{max-width:1280px;margin:0 auto;padding:24px 16px}\n"
    "h1{font-size:2.4em;margin:.2em 0;color:#ffc02a;letter-spacing:.08em;text-shadow:2px 3px 0 #000}\n"
    "p.lead{color:#cfc8ff}\n"
    "table{border-collapse:collapse;table-layout:fixed;width:100%;margin:.6em 0 1.6em;background:rgba(0,0,0,.25);"
    "font-size:.9em}\n"
    "th,td{padding:.4em .5em;text-align:left;vertical-align:top;border-bottom:1px solid rgba(255,255,255,.12);"
    "overflow-wrap:anywhere;word-break:break-word}\n"
    "th{color:#ffd76a;font-weight:600}\n"
    "td.zq,th.zq{font-family:'DejaVu Sans Mono',monospace;text-align:right;color:#ff6b5a}\n"
    "col.rank{width:2.4em}col.zq{width:6.2em}col.date{width:7.6em}col.board{width:4.6em}col.set{width:9.5em}"
    "col.mark{width:1.6em}\n"
    "td.mark{color:#7dffa0;text-align:center;cursor:help}\n"
    ".boards{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(100%,25em),1fr));gap:16px}\n"
    ".board{min-width:0}\n"
    ".board h2{font-size:1.2em;color:#9fd0ff;margin:.4em 0}\n"
    ".lists{display:grid;grid-template-columns:repeat(auto-fit,minmax(min(100%,17em),1fr));gap:12px}\n"
    ".lists>div{min-width:0}\n"
    ".board h3{font-size:1em;color:#cfc8ff;margin:.2em 0}\n"
    "p.note{color:#7dffa0}\n"
    "footer{color:#a89fd6;font-size:.85em;margin-top:2em}\n"
    "footer a{color:#cfc8ff}\n";

// No scripts, no outside resources; only the page's own style sheet, named by its hash.
const QByteArray PagePolicy = "default-src 'none'; style-src 'sha256-"
    + QCryptographicHash::hash(PageStyle, QCryptographicHash::Sha256).toBase64()
    + "'; img-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

} // namespace

QList<std::pair<QByteArray, QByteArray>> pageHeaders()
{
    return {{"Cache-Control", "public, max-age=10"},
            {"X-Content-Type-Options", "nosniff"},
            {"Content-Security-Policy", PagePolicy},
            {"Referrer-Policy", "no-referrer"}};
}

QByteArray recordsPage(const PageData& data)
{
    auto esc = [](const QString& s) { return s.toHtmlEscaped(); };
    auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC") : QStringLiteral("&mdash;");
    };
    QDateTime latest;
    QString out;
    QTextStream html(&out);
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Zimble World High ZQs</title>\n<style>"
         << QString::fromLatin1(PageStyle)
         << "</style>\n</head>\n<body>\n<main>\n<h1>ZIMBLE</h1>\n"
            "<p class=\"lead\">The world&rsquo;s highest ZQs. The rules are yours to find out.</p>\n"
         << (data.verifiedOnly ? "<p class=\"note\">Only verified games count here: the service replays each game "
                                 "with the game&rsquo;s own scoring.</p>\n"
                               : "")
         << "<h2>World records</h2>\n<table class=\"records\">\n"
            "<colgroup><col class=\"board\"><col class=\"zq\"><col><col class=\"mark\"><col class=\"set\"></colgroup>\n"
            "<tr><th>Board</th><th class=\"zq\">ZQ</th><th>Record holder</th><th></th><th>Set</th></tr>\n";
    const QString mark = QStringLiteral("<td class=\"mark\" title=\"Verified: the service replayed this game with "
                                        "the game&rsquo;s own scoring and it gives this ZQ.\">&#10004;</td>");
    const QString noMark = QStringLiteral("<td class=\"mark\"></td>");
    auto row = [&](bool verified) {
        return verified ? QStringLiteral("<tr data-verified=\"yes\">") : QStringLiteral("<tr>");
    };
    for (int i = 0; i < 4; ++i) {
        const WorldRecord& r = data.records[i];
        if (r.setAt.isValid() && (!latest.isValid() || r.setAt > latest))
            latest = r.setAt;
        html << row(r.verified) << "<td>" << (4 + i) << " &times; " << (4 + i) << "</td><td class=\"zq\">" << r.score
             << "</td><td>" << (r.holder.isEmpty() ? QStringLiteral("&mdash;") : esc(r.holder)) << "</td>"
             << (r.verified ? mark : noMark) << "<td>" << when(r.setAt) << "</td></tr>\n";
    }
    html << "</table>\n<h2>The ten best of each board</h2>\n<div class=\"boards\">\n";
    auto list = [&](const QString& title, const QList<RankedEntry>& entries, const QString& empty) {
        html << "<div><h3>" << title << "</h3>\n<table>\n"
             << "<colgroup><col class=\"rank\"><col><col class=\"mark\"><col class=\"zq\"><col class=\"date\"></colgroup>\n"
             << "<tr><th>#</th><th>Name</th><th></th><th class=\"zq\">ZQ</th><th>Date</th></tr>\n";
        if (entries.isEmpty())
            html << "<tr><td colspan=\"5\">" << empty << "</td></tr>\n";
        for (int k = 0; k < entries.size(); ++k) {
            const RankedEntry& e = entries[k];
            html << row(e.verified) << "<td>" << (k + 1) << "</td><td>" << esc(e.name) << "</td>"
                 << (e.verified ? mark : noMark) << "<td class=\"zq\">" << e.score << "</td><td>"
                 << (e.at.isValid() ? e.at.toUTC().toString(QStringLiteral("yyyy-MM-dd")) : QString()) << "</td></tr>\n";
        }
        html << "</table></div>\n";
    };
    for (int i = 0; i < 4; ++i) {
        const int board = FirstBoard + i;
        html << "<section class=\"board\"><h2>" << board << " &times; " << board << "</h2>\n<div class=\"lists\">\n";
        list(QStringLiteral("All time"), data.best[i], QStringLiteral("No scores yet."));
        list(QStringLiteral("This week"), data.week[i], QStringLiteral("No scores this week yet."));
        html << "</div></section>\n";
    }
    html << "</div>\n<footer>Latest record: " << when(latest) << "</footer>\n</main>\n</body>\n</html>\n";
    html.flush();
    return out.toUtf8();
}


QByteArray playerPage(const QString& name, const QList<PlayerBoard>& boards, bool verifiedOnly)
{
    QString out;
    QTextStream html(&out);
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Zimble: "
         << name.toHtmlEscaped() << "</title>\n<style>" << QString::fromLatin1(PageStyle)
         << "</style>\n</head>\n<body>\n<main>\n<h1>ZIMBLE</h1>\n<h2>" << name.toHtmlEscaped() << "</h2>\n";
    if (boards.isEmpty()) {
        html << "<p class=\"lead\">No " << (verifiedOnly ? "verified " : "") << "scores under this name yet.</p>\n";
    } else {
        html << "<table class=\"player\">\n<colgroup><col class=\"board\"><col class=\"zq\"><col><col></colgroup>\n"
                "<tr><th>Board</th><th class=\"zq\">Best ZQ</th><th>Rank</th><th>Verified</th></tr>\n";
        for (const PlayerBoard& b : boards) {
            html << (b.verified ? "<tr data-verified=\"yes\">" : "<tr>") << "<td>" << b.board << " &times; " << b.board
                 << "</td><td class=\"zq\">" << b.score << "</td><td>" << ordinal(b.rank.rank) << " of "
                 << QLocale(QLocale::English, QLocale::UnitedStates).toString(b.rank.players) << "</td><td>"
                 << (b.verified ? "<span title=\"The service replayed this game with the game&rsquo;s own scoring and "
                                  "it gives this ZQ.\">&#10004; yes</span>"
                                : "no")
                 << "</td></tr>\n";
        }
        html << "</table>\n";
    }
    html << "<footer><a href=\"/zimble1.asp\">All records</a></footer>\n</main>\n</body>\n</html>\n";
    html.flush();
    return out.toUtf8();
}

QString ordinal(qint64 n)
{
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    const char* suffix = (lastTwo >= 11 && lastTwo <= 13) ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n) + QLatin1String(suffix);
}

} // namespace zimble::server
