#include "replaypage.h"

#include "api.h"
#include "pages.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QTextStream>

#include <algorithm>

namespace zimble::server {

namespace {

// A click's animation: ten frames, each after a pause of 0.06 s; the game's clock does not run
// meanwhile.
constexpr int ClickMs = 10 * 60;

// The replay page's own rules, after the pages' shared style sheet. The board and its panel sit
// side by side where there is room and one above the other on a phone.
const QByteArray ReplayStyle =
    ".replay{display:flex;flex-wrap:wrap;gap:16px;align-items:flex-start;margin:.6em 0 1.2em}\n"
    ".replay[hidden]{display:none}\n"
    ".stage{flex:1 1 280px;max-width:560px}\n"
    ".stage canvas{display:block;width:100%;height:auto;background:#000;border-radius:4px}\n"
    ".panel{flex:1 1 16em;max-width:100%}\n"
    ".led{background:#000;border-radius:4px;padding:8px;max-width:24em}\n"
    ".led svg{display:block;width:100%;height:auto}.led .on{fill:#ff3b1f}.led .off{fill:#2b0d08}\n"
    ".clock,.at{font-family:'DejaVu Sans Mono',monospace;margin:.4em 0}\n"
    ".controls{display:flex;flex-wrap:wrap;gap:6px;margin:.6em 0}\n"
    ".controls button{font:inherit;padding:.35em .8em;border-radius:4px;border:1px solid var(--muted);"
    "background:var(--box);color:var(--fg);cursor:pointer}\n"
    ".controls button[aria-pressed=\"true\"]{background:var(--link);color:var(--bg)}\n"
    ".clicks .date{min-width:4.5em}\n"
    ".row.now{background:var(--me)}.name{overflow-wrap:break-word}\n";

QByteArray styleSheet()
{
    return pageStyleSheet() + ReplayStyle;
}

QByteArray hashOf(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().left(16);
}

// The files compiled in, read once.
const QHash<QByteArray, StaticFile>& files()
{
    static const QHash<QByteArray, StaticFile> all = [] {
        QHash<QByteArray, StaticFile> out;
        auto add = [&](const QByteArray& path, const QString& resource, const QByteArray& type) {
            QFile f(resource);
            if (!f.open(QIODevice::ReadOnly))
                return;
            const QByteArray body = f.readAll();
            out.insert(path, {type, body, '"' + hashOf(body) + '"'});
        };
        add("/replay.js", QStringLiteral(":/web/replay.js"), "text/javascript; charset=utf-8");
        for (int k = 1; k <= 3; ++k)
            add("/pictures/tessa" + QByteArray::number(k) + ".jpg", QStringLiteral(":/pictures/tessa%1.jpg").arg(k), "image/jpeg");
        return out;
    }();
    return all;
}

// A file's address with its version.
QString versioned(const QByteArray& path)
{
    const StaticFile* f = staticFile(path);
    return QString::fromLatin1(path) + (f ? QStringLiteral("?v=") + QString::fromLatin1(f->tag.mid(1, 8)) : QString());
}

// A name as the pages set it: a word too long for a narrow screen may break there, and on wider
// ones is set smaller so that it never has to.
QString nameText(const QString& name)
{
    qsizetype run = 0, longest = 0;
    for (const QChar ch : name) {
        run = ch.isSpace() || ch == QLatin1Char('-') ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return QStringLiteral("<span class=\"name%1\">%2</span>")
        .arg(longest > 20 ? QStringLiteral(" long") : QString(), name.toHtmlEscaped());
}

QString zqText(FixedPoint score)
{
    return QString::number(score.toDouble(), 'f', 4);
}

// A clock of so many cycles as the game's clock runs: "1:04.0".
QString clockText(qint64 cycles)
{
    const qint64 tenths = cycles * CycleMs / 100;
    return QStringLiteral("%1:%2.%3").arg(tenths / 600).arg(tenths / 10 % 60, 2, 10, QLatin1Char('0')).arg(tenths % 10);
}

QString head(const QString& title, bool script)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>%1</title>\n"
                          "<style>%2</style>\n%3</head>\n<body>\n<main>\n<h1>ZIMBLE</h1>\n")
        .arg(title, QString::fromLatin1(styleSheet()),
             script ? QStringLiteral("<script src=\"%1\" defer></script>\n").arg(versioned("/replay.js")) : QString());
}

const QString Footer = QStringLiteral("<footer><a href=\"/zimble1.asp\">All records</a></footer>\n</main>\n</body>\n</html>\n");

} // namespace

QList<std::pair<QByteArray, QByteArray>> replayPageHeaders()
{
    // The page headers with a policy that lets the page run the service's own script.
    static const QList<std::pair<QByteArray, QByteArray>> headers = [] {
        const QByteArray policy = "default-src 'none'; script-src 'self'; img-src 'self'; style-src 'sha256-"
            + QCryptographicHash::hash(styleSheet(), QCryptographicHash::Sha256).toBase64()
            + "'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
        QList<std::pair<QByteArray, QByteArray>> list = pageHeaders();
        for (auto& h : list) {
            if (h.first == "Content-Security-Policy")
                h.second = policy;
        }
        return list;
    }();
    return headers;
}

const StaticFile* staticFile(const QByteArray& path)
{
    const auto it = files().constFind(path);
    return it == files().constEnd() ? nullptr : &*it;
}

QByteArray noReplayPage(bool malformed)
{
    return (head(QStringLiteral("Zimble: no such game"), false) + QStringLiteral("<p class=\"lead\">")
            + (malformed ? QStringLiteral("A game&rsquo;s address ends in its number, as in /replay?id=12.")
                         : QStringLiteral("No verified game has this number."))
            + QStringLiteral("</p>\n") + Footer)
        .toUtf8();
}

QByteArray replayPage(const StoredReplay& r, const std::vector<FixedPoint>& scores)
{
    const GameReplay& g = r.replay;
    const int size = g.boardSize;
    QString out;
    QTextStream html(&out);
    const QString name = nameText(r.name);
    html << head(QStringLiteral("Zimble: %1 on %2 &times; %2").arg(r.name.toHtmlEscaped()).arg(size), true)
         << "<p class=\"lead\"><a href=\"/zimble1.asp\">All records</a> &middot; <a href=\"" << playerLink(r.name).toHtmlEscaped()
         << "\">" << name << "</a></p>\n<h2>" << name << ": ZQ " << r.whole << " on " << size << " &times; " << size << "</h2>\n"
         << "<p class=\"lead\">Sent " << (r.submittedAt.isValid() ? r.submittedAt.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                                                  : QStringLiteral("&mdash;"))
         << " UTC. Verified: the service replayed this game with the game&rsquo;s own scoring and it gives this ZQ.</p>\n";
    if (!g.hasClickCycles())
        html << "<p class=\"note\">This game was kept before the game recorded the clock at each click, so its clicks are "
                "shown at an even pace; the clock at the last click and every ZQ after it are as played.</p>\n";
    html << "<div class=\"replay\" id=\"replay\" hidden data-size=\"" << size << "\" data-cycle-ms=\"" << CycleMs
         << "\" data-click-ms=\"" << ClickMs << "\" data-pictures=\"" << versioned("/pictures/tessa1.jpg") << ' '
         << versioned("/pictures/tessa2.jpg") << ' ' << versioned("/pictures/tessa3.jpg") << "\">\n"
         << "<div class=\"stage\"><canvas id=\"board\" width=\"560\" height=\"560\" role=\"img\" aria-label=\"The board, "
         << size << " &times; " << size << "\"></canvas></div>\n<div class=\"panel\">\n"
         << "<div class=\"led\" id=\"zq\" role=\"img\" aria-label=\"ZQ 0.0000\" data-zq=\"0.0000\"></div>\n"
         << "<p class=\"clock\">Clock <span id=\"clock\">0:00.0</span></p>\n"
         << "<p class=\"at\">Click <span id=\"at\">0</span> of " << g.clicks.size() << "</p>\n"
         << "<div class=\"controls\"><button type=\"button\" id=\"play\">Play</button>"
         << "<button type=\"button\" id=\"step\">Step</button><button type=\"button\" id=\"restart\">Start over</button></div>\n"
         << "<div class=\"controls\" role=\"group\" aria-label=\"Speed\">"
         << "<button type=\"button\" data-speed=\"1\" aria-pressed=\"true\">1&times;</button>"
         << "<button type=\"button\" data-speed=\"4\" aria-pressed=\"false\">4&times;</button>"
         << "<button type=\"button\" data-speed=\"16\" aria-pressed=\"false\">16&times;</button></div>\n"
         << "</div>\n</div>\n<h2>The game, click by click</h2>\n<ol class=\"list clicks\" id=\"clicks\">\n"
         << "<li class=\"row head\"><span class=\"rank\">#</span><span class=\"who\">Tile</span><span class=\"end\">"
            "<span class=\"date\">Clock</span><span class=\"zq\">ZQ</span></span></li>\n";
    for (std::size_t k = 0; k < g.clicks.size(); ++k) {
        const std::int32_t tile = g.clicks[k];
        const QString zq = k < scores.size() ? zqText(scores[k]) : QString();
        html << "<li class=\"row\" id=\"click" << k + 1 << "\" data-tile=\"" << tile << "\" data-cycles=\"" << g.cyclesAtClick(k)
             << "\" data-zq=\"" << zq << "\"><span class=\"rank\">" << k + 1 << "</span><span class=\"who\">row "
             << tile / size + 1 << ", column " << tile % size + 1 << "</span><span class=\"end\"><span class=\"date\">"
             << clockText(g.cyclesAtClick(k)) << "</span><span class=\"zq\">" << zq << "</span></span></li>\n";
    }
    html << "</ol>\n";
    if (!scores.empty())
        html << "<p class=\"final\">Final ZQ <span class=\"zq\">" << zqText(scores.back()) << "</span>, made a whole number "
             << toInt32HalfEven(scores.back().toDouble()) << ": the ZQ on the records.</p>\n";
    html << Footer;
    html.flush();
    return out.toUtf8();
}

} // namespace zimble::server
