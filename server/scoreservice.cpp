#include "scoreservice.h"

#include "protocol.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace zimble::server {

namespace {

constexpr int MaxTargetLength = 2048;
// A fixed 60-byte answer for health checks (and the benchmark's baseline).
const QByteArray HealthReply = QByteArray("zimble-scored: ok").leftJustified(59, ' ') + '\n';

qint64 steadyNowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QString clientOf(const QHttpServerRequest& request)
{
    QHostAddress a = request.remoteAddress();
    bool ok = false;
    const QHostAddress v4(a.toIPv4Address(&ok));
    return ok ? v4.toString() : a.toString();
}

} // namespace

RateLimiter::RateLimiter(int perMinute, std::function<qint64()> nowMs)
    : m_perMinute(perMinute)
    , m_now(nowMs ? std::move(nowMs) : std::function<qint64()>(steadyNowMs))
{
}

bool RateLimiter::allow(const QString& client)
{
    if (m_perMinute <= 0)
        return true;
    const qint64 now = m_now();
    const qint64 windowStart = now - 60000;
    // Forget quiet addresses now and then, so the table stays small.
    if (now - m_lastSweep > 60000) {
        m_lastSweep = now;
        for (auto it = m_events.begin(); it != m_events.end();) {
            if (it->empty() || it->back() <= windowStart)
                it = m_events.erase(it);
            else
                ++it;
        }
    }
    std::deque<qint64>& events = m_events[client];
    while (!events.empty() && events.front() <= windowStart)
        events.pop_front();
    if (int(events.size()) >= m_perMinute)
        return false;
    events.push_back(now);
    return true;
}

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QString address = socket->peerAddress().toString();
    if (m_perAddress.value(address) >= MaxConnectionsPerAddress) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_perAddress[address];
    connect(socket, &QObject::destroyed, this, [this, address] {
        if (--m_perAddress[address] <= 0)
            m_perAddress.remove(address);
    });

    // Bytes received since the last answer; the HTTP server reads everything on each readyRead,
    // so what is available when this (earlier connected) slot runs is new.
    auto pending = std::make_shared<qint64>(0);
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->start(IdleTimeoutMs);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    connect(socket, &QTcpSocket::readyRead, socket, [socket, pending, idle] {
        idle->start(IdleTimeoutMs);
        *pending += socket->bytesAvailable();
        if (*pending > MaxPendingBytes) {
            // Drop the connection before the HTTP server reads any more of it.
            QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            socket->abort();
        }
    });
    connect(socket, &QTcpSocket::bytesWritten, socket, [pending, idle] {
        *pending = 0;
        idle->start(IdleTimeoutMs);
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
}

ScoreService::ScoreService(const Options& options, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_store(options.database)
    , m_limiter(options.rateLimitPerMinute)
    , m_log(options.log)
{
}

quint16 ScoreService::listenOn(const QHostAddress& address, quint16 port)
{
    auto* tcp = new GuardedTcpServer(this);
    if (!tcp->listen(address, port)) {
        delete tcp;
        return 0;
    }
    bind(tcp);
    return tcp->serverPort();
}

QByteArray ScoreService::exchange(const QHttpServerRequest& request, int* status)
{
    *status = 200;
    WorldRecords records;
    QString message;
    QString refusal;
    const QByteArray rawQuery = request.url().query(QUrl::FullyEncoded).toLatin1();
    const auto parsed = parseSubmission(rawQuery, &refusal);
    if (!parsed) {
        message = refusal;
    } else if (!m_limiter.allow(clientOf(request))) {
        message = QStringLiteral("Your scores were not recorded: too many submissions from your address. "
                                 "Please try again in a minute.");
    } else {
        Submission s;
        s.scores = parsed->scores;
        s.name = parsed->name;
        s.client = clientOf(request);
        QList<int> won;
        if (m_store.submit(s, &won)) {
            message = thanksMessage(s.name, won);
        } else {
            *status = 503;
            message = QStringLiteral("Your scores were not recorded: the score service is busy. Please try again later.");
            std::fprintf(stderr, "zimble-scored: storing a submission failed: %s\n", qPrintable(m_store.lastError()));
        }
    }
    if (!m_store.records(records)) {
        *status = 503;
        std::fprintf(stderr, "zimble-scored: reading the records failed: %s\n", qPrintable(m_store.lastError()));
        return QByteArray("The score service is not available right now.\n");
    }
    return formatReply(records, message);
}

QByteArray ScoreService::gamePage()
{
    WorldRecords records;
    if (!m_store.records(records))
        return {};
    auto esc = [](const QString& s) { return s.toHtmlEscaped(); };
    auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC") : QStringLiteral("&mdash;");
    };
    QDateTime latest;
    QString out;
    QTextStream html(&out);
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Zimble World High ZQs</title>\n<style>\n"
            "body{margin:0;font-family:'DejaVu Sans',Verdana,sans-serif;background:linear-gradient(#14103c,#461459);"
            "color:#f0ecff;min-height:100vh}\n"
            "main{max-width:960px;margin:0 auto;padding:24px}\n"
            "h1{font-size:2.4em;margin:.2em 0;color:#ffc02a;letter-spacing:.08em;text-shadow:2px 3px 0 #000}\n"
            "p.lead{color:#cfc8ff}\n"
            "table{border-collapse:collapse;width:100%;margin:.6em 0 1.6em;background:rgba(0,0,0,.25)}\n"
            "th,td{padding:.45em .7em;text-align:left;border-bottom:1px solid rgba(255,255,255,.12)}\n"
            "th{color:#ffd76a;font-weight:600}\n"
            "td.zq{font-family:'DejaVu Sans Mono',monospace;text-align:right;color:#ff6b5a}\n"
            ".boards{display:grid;grid-template-columns:repeat(auto-fit,minmax(210px,1fr));gap:16px}\n"
            ".board h2{font-size:1.2em;color:#9fd0ff;margin:.4em 0}\n"
            "footer{color:#a89fd6;font-size:.85em;margin-top:2em}\n"
            "</style>\n</head>\n<body>\n<main>\n<h1>ZIMBLE</h1>\n"
            "<p class=\"lead\">The world&rsquo;s highest ZQs. The rules are yours to find out.</p>\n"
            "<h2>World records</h2>\n<table>\n<tr><th>Board</th><th>World high ZQ</th><th>Record holder</th><th>Set</th></tr>\n";
    for (int i = 0; i < 4; ++i) {
        const WorldRecord& r = records[i];
        if (r.setAt.isValid() && (!latest.isValid() || r.setAt > latest))
            latest = r.setAt;
        html << "<tr><td>" << (4 + i) << " &times; " << (4 + i) << "</td><td class=\"zq\">" << r.score << "</td><td>"
             << (r.holder.isEmpty() ? QStringLiteral("&mdash;") : esc(r.holder)) << "</td><td>" << when(r.setAt)
             << "</td></tr>\n";
    }
    html << "</table>\n<h2>The ten best of each board</h2>\n<div class=\"boards\">\n";
    for (int board = FirstBoard; board <= LastBoard; ++board) {
        QList<RankedEntry> best;
        m_store.best(board, 10, best);
        html << "<section class=\"board\"><h2>" << board << " &times; " << board << "</h2>\n<table>\n"
             << "<tr><th>#</th><th>Name</th><th>ZQ</th><th>Date</th></tr>\n";
        if (best.isEmpty())
            html << "<tr><td colspan=\"4\">No scores yet.</td></tr>\n";
        for (int k = 0; k < best.size(); ++k) {
            html << "<tr><td>" << (k + 1) << "</td><td>" << esc(best[k].name) << "</td><td class=\"zq\">" << best[k].score
                 << "</td><td>" << (best[k].at.isValid() ? best[k].at.toUTC().toString(QStringLiteral("yyyy-MM-dd")) : QString())
                 << "</td></tr>\n";
        }
        html << "</table></section>\n";
    }
    html << "</div>\n<footer>Latest record: " << when(latest) << "</footer>\n</main>\n</body>\n</html>\n";
    html.flush();
    return out.toUtf8();
}

bool ScoreService::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QElapsedTimer timer;
    timer.start();
    const QUrl url = request.url();
    const QString path = url.path();
    QByteArray body;
    QByteArray type = "text/plain; charset=utf-8";
    int status = 200;

    if (url.toEncoded().size() > MaxTargetLength) {
        status = 414;
        body = "Request target too long.\n";
    } else if (request.method() != QHttpServerRequest::Method::Get && request.method() != QHttpServerRequest::Method::Head) {
        status = 405;
        body = "Only GET is served here.\n";
    } else if (path == QLatin1String("/zm2.asp")) {
        body = exchange(request, &status);
        if (status == 200 || body.contains('|'))
            type = "text/plain; charset=windows-1252";
    } else if (path == QLatin1String("/zimble1.asp") || path == QLatin1String("/")) {
        body = gamePage();
        type = "text/html; charset=utf-8";
        if (body.isEmpty()) {
            status = 503;
            type = "text/plain; charset=utf-8";
            body = "The score service is not available right now.\n";
        }
    } else if (path == QLatin1String("/health")) {
        body = HealthReply;
    } else {
        status = 404;
        body = "Not found.\n";
    }

    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(body, type, static_cast<QHttpServerResponder::StatusCode>(status));

    if (m_log) {
        // One line per request; the query is left out, as it carries players' names.
        std::fprintf(stderr, "%s %s %s %s %d %lld %.1fms\n",
                     qPrintable(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)),
                     qPrintable(clientOf(request)),
                     request.method() == QHttpServerRequest::Method::Get ? "GET" : "OTHER",
                     qPrintable(path.left(200)), status, static_cast<long long>(body.size()),
                     timer.nsecsElapsed() / 1e6);
    }
    return true;
}

void ScoreService::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QByteArray("Not found.\n"), "text/plain", QHttpServerResponder::StatusCode::NotFound);
}

} // namespace zimble::server
