#include "scoreservice.h"

#include "logging.h"

#include "protocol.h"
#include "server/web/gzip.h"
#include "server/web/pages.h"

#include "scores/codepage.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLocale>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace zimble::server {

namespace {

// A fixed 60-byte answer for health checks (and the benchmark's baseline).
const QByteArray HealthReply = QByteArray("zimble-scored: ok").leftJustified(59, ' ') + '\n';
const QByteArray ExchangeType = "text/plain; charset=windows-1252";
const QString BusyMessage =
    QStringLiteral("Your scores were not recorded: the score service is busy. Please try again later.");
const QString ReplaysBusyMessage =
    QStringLiteral("Your replays were not checked: the score service is busy. Please try again later.");

QByteArray routeOf(const QByteArray& path)
{
    if (path == "/zm2.asp" || path == "/zr.asp" || path == "/zimble1.asp" || path == "/health" || path == "/metrics"
        || path == "/api/v1/records")
        return path;
    if (path.startsWith("/api/v1/players/"))
        return "/api/v1/players";
    return path == "/" ? QByteArray("/zimble1.asp") : QByteArray("other");
}

} // namespace

QByteArray logSafe(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        const QChar::Category cat = QChar::category(c);
        const bool hidden = cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Other_Surrogate
            || cat == QChar::Other_NotAssigned || cat == QChar::Other_PrivateUse || cat == QChar::Separator_Line
            || cat == QChar::Separator_Paragraph || (cat == QChar::Separator_Space && c != U' ');
        if (c == U'\\')
            out += QStringLiteral("\\\\");
        else if (hidden)
            out += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out.toUtf8();
}

QHostAddress clientAddress(const HttpRequest& request, const QList<QHostAddress>& trustedProxies)
{
    if (!trustedProxies.contains(request.peer))
        return request.peer;
    const QList<QByteArray> hops = request.header("x-forwarded-for").split(',');
    QByteArray last = hops.last().trimmed();
    if (last.startsWith('[') && last.endsWith(']'))
        last = last.mid(1, last.size() - 2);
    QHostAddress a;
    if (last.isEmpty() || !a.setAddress(QString::fromLatin1(last)))
        return request.peer;
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : a;
}

RateLimiter::RateLimiter(int perMinute, std::function<qint64()> nowMs, int ipv6Prefix)
    : m_perMinute(perMinute)
    , m_now(nowMs ? std::move(nowMs) : std::function<qint64()>(&HttpServer::nowMs))
    , m_ipv6Prefix(ipv6Prefix)
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
    const QString key = clientKey(QHostAddress(client), m_ipv6Prefix);
    std::deque<qint64>& events = m_events[key.isEmpty() ? client : key];
    while (!events.empty() && events.front() <= windowStart)
        events.pop_front();
    if (int(events.size()) >= m_perMinute)
        return false;
    events.push_back(now);
    return true;
}

ScoreService::ScoreService(const Options& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_storage(std::make_unique<Storage>(options.database, options.verifiedOnly))
    , m_limiter(options.rateLimitPerMinute, {}, options.ipv6Prefix)
    , m_replayLimiter(options.rateLimitPerMinute, {}, options.ipv6Prefix)
    , m_playerPageLimiter(options.rateLimitPerMinute > 0 ? PlayerPagesPerMinute : 0, {}, options.ipv6Prefix)
{
    m_clock.start();
    m_gather.setSingleShot(true);
    m_gather.setTimerType(Qt::PreciseTimer);
    m_gather.setInterval(1);
    connect(&m_gather, &QTimer::timeout, this, &ScoreService::maybeDispatch);
    setPage(m_storage->initialPage());
    m_storage->setPageListener([this](const PageData& p) { setPage(p); });
}

ScoreService::~ScoreService()
{
    for (HttpServer* s : std::as_const(m_servers))
        delete s;
    m_storage.reset();
}

quint16 ScoreService::listenOn(const QHostAddress& address, quint16 port)
{
    auto* server = new HttpServer([this](const HttpRequest& r, const HttpResponder& w) { handle(r, w); },
                                  m_options.maxConnections);
    server->setHeaderDeadline(m_options.headerDeadlineMs);
    server->setClientKeys(m_options.trustedProxies, m_options.ipv6Prefix);
    server->setRefusalObserver([this](int status, const QHostAddress& peer) {
        m_metrics.request("refused", status);
        if (m_options.log)
            qCInfo(lcHttp, "%s %s - - %d refused before it could be read",
                         qPrintable(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)), qPrintable(peer.toString()), status);
    });
    if (!server->listen(address, port)) {
        m_listenError = server->serverError();
        delete server;
        return 0;
    }
    m_servers.append(server);
    return server->serverPort();
}

void ScoreService::setPage(const PageData& page)
{
    m_page = page;
    m_pageStale = true;
    forgetReplies();
}

QByteArray ScoreService::gamePage()
{
    if (!m_pageStale)
        return m_pageHtml;
    m_pageHtml = recordsPage(m_page);
    m_pageTag = '"' + QCryptographicHash::hash(m_pageHtml, QCryptographicHash::Sha1).toHex().left(24) + '"';
    m_pageGzip.clear();
    m_pageGzipTag = gzipTag(m_pageTag);
    m_pageStale = false;
    return m_pageHtml;
}

bool metricsAllowed(const HttpRequest& request, const QList<QHostAddress>& trustedProxies,
                    const QList<QHostAddress>& metricsFrom)
{
    const bool forwarded = trustedProxies.contains(request.peer) && !request.header("x-forwarded-for").isEmpty();
    if (forwarded) {
        const QHostAddress client = clientAddress(request, trustedProxies);
        return client != request.peer && !client.isLoopback() && metricsFrom.contains(client);
    }
    return metricsFrom.isEmpty() ? request.peer.isLoopback() : metricsFrom.contains(request.peer);
}

QByteArray ScoreService::metricsText() const
{
    int open = 0;
    for (const HttpServer* s : m_servers)
        open += s->openConnections();
    return m_metrics.text(open);
}

void ScoreService::handle(const HttpRequest& request, const HttpResponder& responder)
{
    const qint64 started = m_clock.nsecsElapsed();
    HttpResponse r;
    if (request.method != "GET" && request.method != "HEAD") {
        r.status = 405;
        r.body = "Only GET and HEAD are served here.\n";
        r.headers.append(std::pair<QByteArray, QByteArray>("Allow", "GET, HEAD"));
    } else if (request.path == "/zm2.asp") {
        exchange(request, responder, clientAddress(request, m_options.trustedProxies).toString(), started);
        return;
    } else if (request.path == "/zr.asp") {
        replays(request, responder, clientAddress(request, m_options.trustedProxies).toString(), started);
        return;
    } else if (request.path == "/zimble1.asp" || request.path == "/") {
        if (const std::optional<QByteArray> rawName = queryValue(request.query, "name")) {
            const QHostAddress client = clientAddress(request, m_options.trustedProxies);
            if (m_playerPageLimiter.allow(client.toString())) {
                const QString name = cleanPlayerName(decodeName(*rawName));
                player(request, responder, name, started);
                return;
            }
            r.status = 429;
            r.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "60"));
            r.body = "Too many player pages from your address; please try again in a minute.\n";
            reply(request, responder, r, started);
            return;
        }
        page(request, responder, started);
        return;
    } else if (request.path.startsWith("/api/")) {
        api(request, responder, clientAddress(request, m_options.trustedProxies).toString(), started);
        return;
    } else if (request.path == "/health") {
        r.body = HealthReply;
    } else if (request.path == "/metrics" && metricsAllowed(request, m_options.trustedProxies, m_options.metricsFrom)) {
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = metricsText();
    } else {
        r.status = 404;
        r.body = "Not found.\n";
    }
    reply(request, responder, r, started);
}

void ScoreService::page(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // just started: the page waits for the standings
        if (!m_storage->whenLoaded([=, this] { page(request, responder, startedNs); }))
            busy(request, responder, startedNs, "text/plain; charset=utf-8",
                 "The score service is busy; please try again later.\n");
        return;
    }
    gamePage();
    // The gzip form is made when first asked for, once for each rendering of the page.
    bool gzip = request.acceptsGzip();
    if (gzip && m_pageGzip.isEmpty())
        m_pageGzip = gzipCompressed(m_pageHtml);
    gzip = gzip && !m_pageGzip.isEmpty();
    const QByteArray& pageTag = gzip ? m_pageGzipTag : m_pageTag;
    HttpResponse r;
    r.headers = pageHeaders();
    r.headers.append({"ETag", pageTag});
    r.headers.append(std::pair<QByteArray, QByteArray>("Vary", "Accept-Encoding"));
    if (request.matchesTag(pageTag)) {
        r.status = 304;
    } else {
        r.contentType = "text/html; charset=utf-8";
        r.body = gzip ? m_pageGzip : m_pageHtml;
        if (gzip)
            r.headers.append(std::pair<QByteArray, QByteArray>("Content-Encoding", "gzip"));
    }
    reply(request, responder, r, startedNs);
}

void ScoreService::exchange(const HttpRequest& request, const HttpResponder& responder, const QString& client,
                            qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // every reply carries the records
        if (!m_storage->whenLoaded([=, this] { exchange(request, responder, client, startedNs); })) {
            m_metrics.refused("storage_error");
            busy(request, responder, startedNs, ExchangeType, formatReply(m_page.records, BusyMessage));
        }
        return;
    }
    HttpResponse r;
    r.contentType = ExchangeType;
    QString refusal;
    const auto parsed = parseSubmission(request.query, &refusal);
    if (!parsed) {
        m_metrics.refused("invalid");
        r.body = formatReply(m_page.records, refusal);
    } else if (request.isHead()) {
        // The headers a GET would get, without storing or counting against the limit.
        r.body = formatReply(m_page.records, thanksMessage({}));
    } else if (!m_limiter.allow(client)) {
        m_metrics.refused("rate_limited");
        r.body = formatReply(m_page.records, QStringLiteral("Your scores were not recorded: too many submissions from "
                                                            "your address. Please try again in a minute."));
    } else {
        Waiting w{{parsed->scores, parsed->name, client}, responder, request, startedNs};
        m_waiting.push_back(std::move(w));
        maybeDispatch();
        return;
    }
    reply(request, responder, r, startedNs);
}

void ScoreService::replays(const HttpRequest& request, const HttpResponder& responder, const QString& client,
                           qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // a replay is matched against the standings
        if (!m_storage->whenLoaded([=, this] { replays(request, responder, client, startedNs); }))
            busy(request, responder, startedNs, ExchangeType, toCp1252(ReplaysBusyMessage));
        return;
    }
    HttpResponse r;
    r.contentType = ExchangeType;
    QString refusal;
    const std::optional<ReplaySubmission> parsed = parseReplaySubmission(request.query, &refusal);
    if (!parsed) {
        m_metrics.replay("malformed");
        r.body = toCp1252(refusal);
    } else if (request.isHead()) {
        r.body = toCp1252(replayMessage({}, {}));
    } else if (!m_replayLimiter.allow(client)) {
        r.body = toCp1252(QStringLiteral("Your replays were not checked: too many requests from your address. "
                                         "Please try again in a minute."));
    } else {
        m_storage->verify(*parsed, client, [this, request, responder, startedNs, name = parsed->name](const ReplayOutcome& o) {
            HttpResponse done;
            done.contentType = ExchangeType;
            if (!o.ok) {
                qCWarning(lcStore, "zimble-scored: storing replays failed: %s", logSafe(o.error).constData());
                std::fflush(stderr);
                done.status = 503;
                done.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "5"));
                done.body = toCp1252(ReplaysBusyMessage);
                reply(request, responder, done, startedNs);
                return;
            }
            if (o.page)
                setPage(*o.page);
            forgetReplies();
            for (const ReplayResult& result : o.results) {
                m_metrics.replay(result.verified ? QByteArray("verified") : result.reason.toLatin1());
                // Verified records are the world records only when only verified games count.
                if (result.newRecord && m_options.verifiedOnly)
                    m_metrics.recordsSet(1);
                if (!result.verified && m_options.log)
                    qCInfo(lcService, "zimble-scored: replay for %d x %d by %s refused: %s", result.board,
                                 result.board, logSafe(name).constData(), logSafe(result.reason).constData());
            }
            std::fflush(stderr);
            // The player's congratulation stands beside the verdict, since this line replaces the
            // exchange's message in the game.
            QList<int> held;
            for (int i = 0; i < BoardSizeCount; ++i) {
                if (!m_page.records[i].holder.isEmpty() && m_page.records[i].holder == name)
                    held.append(FirstBoard + i);
            }
            done.body = toCp1252(replayMessage(o.results, o.ranks, held));
            reply(request, responder, done, startedNs);
        });
        return;
    }
    reply(request, responder, r, startedNs);
}

void ScoreService::stopAccepting(std::function<void()> drained)
{
    for (HttpServer* s : std::as_const(m_servers))
        s->close();
    m_drained = std::move(drained);
    if (!m_committing && m_waiting.empty())
        QTimer::singleShot(0, this, [this] { if (m_drained) m_drained(); });
}

// Group commit: one transaction at a time on the storage thread; what arrives meanwhile waits
// and goes into the next one. Right after a commit, the next waits up to a millisecond for as many
// submissions as were just answered, since those clients tend to ask again at once; without that
// wait, busy clients split into two halves that take turns, each committing half as much.
void ScoreService::maybeDispatch()
{
    if (m_committing || m_waiting.empty())
        return;
    if (m_gather.isActive() && qsizetype(m_waiting.size()) < m_gatherTarget)
        return;
    m_gather.stop();
    dispatchBatch();
}

void ScoreService::dispatchBatch()
{
    m_committing = true;
    QList<Waiting> batch;
    QList<Submission> submissions;
    while (!m_waiting.empty() && batch.size() < MaxBatch) {
        submissions.append(m_waiting.front().submission);
        batch.append(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
    m_storage->commit(submissions, [this, batch](const BatchOutcome& o) { finished(batch, o); });
}

void ScoreService::finished(const QList<Waiting>& batch, const BatchOutcome& outcome)
{
    m_metrics.batch(int(batch.size()), outcome.seconds);
    if (outcome.page)
        setPage(*outcome.page);
    if (outcome.ok)
        forgetReplies();
    if (!outcome.ok) {
        qCWarning(lcStore, "zimble-scored: storing %lld submission(s) failed: %s", static_cast<long long>(batch.size()),
                     logSafe(outcome.error).constData());
        std::fflush(stderr);
    }
    // The records are the same in every reply of the batch: only the messages differ.
    const QByteArray head = replyHead(outcome.ok ? outcome.records : m_page.records);
    for (qsizetype i = 0; i < batch.size(); ++i) {
        const Waiting& w = batch[i];
        HttpResponse r;
        r.contentType = ExchangeType;
        if (outcome.ok) {
            const QList<int>& won = outcome.won[i];
            m_metrics.stored(1);
            m_metrics.recordsSet(int(won.size()));
            r.body = zimble::formatReply(head, thanksMessage(won, outcome.ranks.value(i)));
        } else {
            m_metrics.refused("storage_error");
            r.status = 503;
            r.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "5"));
            r.body = zimble::formatReply(head, BusyMessage);
        }
        reply(w.request, w.responder, r, w.startedNs);
    }
    m_committing = false;
    if (m_waiting.empty() && m_drained) {
        QTimer::singleShot(0, this, [this] { if (m_drained) m_drained(); });
        return;
    }
    m_gatherTarget = qsizetype(m_waiting.size()) + batch.size();
    if (!m_drained)
        m_gather.start();
    maybeDispatch();
}

void ScoreService::busy(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs,
                        const QByteArray& contentType, const QByteArray& body)
{
    HttpResponse r;
    r.status = 503;
    r.contentType = contentType;
    r.headers = {{"Retry-After", "5"}, {"Cache-Control", "no-store"}};
    r.body = body;
    reply(request, responder, r, startedNs);
}

void ScoreService::reply(const HttpRequest& request, const HttpResponder& responder, const HttpResponse& response,
                         qint64 startedNs)
{
    responder.send(response);
    m_metrics.request(routeOf(request.path), response.status);
    if (!m_options.log)
        return;
    // One line per request. The path is logged as sent (still percent-encoded) and escaped; the
    // query is left out, as it carries players' names.
    qCInfo(lcHttp, "%s %s %s %s %d %lld %.1fms",
                 qPrintable(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)),
                 qPrintable(clientAddress(request, m_options.trustedProxies).toString()),
                 logSafe(QString::fromLatin1(request.method.left(16))).constData(),
                 logSafe(QString::fromLatin1(request.path.left(200))).constData(), response.status,
                 static_cast<long long>(request.isHead() ? 0 : response.body.size()),
                 (m_clock.nsecsElapsed() - startedNs) / 1e6);
}

} // namespace zimble::server
