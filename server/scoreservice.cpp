#include "scoreservice.h"
#include "server/http/clientkey.h"

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

// A reply of the score exchange: one player's answer, never to be kept by a cache.
HttpResponse exchangeResponse(int status = 200)
{
    HttpResponse r;
    r.status = status;
    r.contentType = ExchangeType;
    r.headers.append(std::pair(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store")));
    if (status == 503)
        r.headers.append(std::pair(QByteArrayLiteral("Retry-After"), QByteArrayLiteral("5")));
    return r;
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
    return lastForwardedAddress(request.header("x-forwarded-for")).value_or(request.peer);
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
    , m_batcher(*m_storage, [this](const QList<PendingSubmission>& b, const BatchOutcome& o) { committed(b, o); })
{
    m_clock.start();
    addRoutes();
    setPage(m_storage->initialPage());
    m_storage->setPageListener([this](const PageData& p) { setPage(p); });
}

ScoreService::~ScoreService()
{
    for (HttpServer* s : std::as_const(m_servers))
        delete s;
    m_storage.reset();
}

void ScoreService::addRoutes()
{
    using M = Router::Match;
    auto to = [this](void (ScoreService::*handler)(const HttpRequest&, const HttpResponder&, qint64)) {
        return [this, handler](const HttpRequest& r, const HttpResponder& w, qint64 started) { (this->*handler)(r, w, started); };
    };
    m_router.add("/zm2.asp", M::Exact, "/zm2.asp", to(&ScoreService::exchange));
    m_router.add("/zr.asp", M::Exact, "/zr.asp", to(&ScoreService::replays));
    m_router.add("/zimble1.asp", M::Exact, "/zimble1.asp", to(&ScoreService::pages));
    m_router.add("/", M::Exact, "/zimble1.asp", to(&ScoreService::pages));
    m_router.add("/replay", M::Exact, "/replay", to(&ScoreService::replayPage));
    m_router.add("/replay.js", M::Exact, "static", to(&ScoreService::staticFiles));
    m_router.add("/pictures/", M::Prefix, "static", to(&ScoreService::staticFiles));
    m_router.add("/health", M::Exact, "/health", to(&ScoreService::health));
    m_router.add("/metrics", M::Exact, "/metrics", to(&ScoreService::metrics));
    m_router.add("/api/v1/records", M::Exact, "/api/v1/records", to(&ScoreService::api), Router::Origins::Any);
    m_router.add("/api/v1/players/", M::Prefix, "/api/v1/players", to(&ScoreService::api), Router::Origins::Any);
    m_router.add("/api/v1/replays/", M::Prefix, "/api/v1/replays", to(&ScoreService::api), Router::Origins::Any);
    m_router.add("/api/", M::Prefix, "other", to(&ScoreService::api), Router::Origins::Any);
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
    m_replies.clear();
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

QString ScoreService::client(const HttpRequest& request) const
{
    return clientAddress(request, m_options.trustedProxies).toString();
}

bool ScoreService::playerLookupAllowed(const HttpRequest& request)
{
    // Without a limit there is nothing to count, and the client's address is not worth making.
    return !m_playerPageLimiter.limits() || m_playerPageLimiter.allow(client(request));
}

void ScoreService::handle(const HttpRequest& request, const HttpResponder& responder)
{
    const qint64 started = m_clock.nsecsElapsed();
    const Router::Decision d = m_router.route(request);
    if (d.handler)
        d.handler(request, responder, started);
    else
        reply(request, responder, d.reply, started);
}

void ScoreService::health(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    HttpResponse r;
    r.body = HealthReply;
    reply(request, responder, r, startedNs);
}

void ScoreService::metrics(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    HttpResponse r;
    if (metricsAllowed(request, m_options.trustedProxies, m_options.metricsFrom)) {
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = metricsText();
    } else {
        r.status = 404;
        r.body = "Not found.\n";
    }
    reply(request, responder, r, startedNs);
}

// The records page, or with a name the player's page.
void ScoreService::pages(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    const std::optional<QByteArray> rawName = queryValue(request.query, "name");
    if (!rawName) {
        page(request, responder, startedNs);
        return;
    }
    if (playerLookupAllowed(request)) {
        player(request, responder, *rawName, startedNs);
        return;
    }
    HttpResponse r;
    r.status = 429;
    r.headers.append(std::pair(QByteArrayLiteral("Retry-After"), QByteArrayLiteral("60")));
    r.body = "Too many player pages from your address; please try again in a minute.\n";
    reply(request, responder, r, startedNs);
}

void ScoreService::page(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // just started: the page waits for the standings
        if (!m_storage->whenLoaded([=, this] { page(request, responder, startedNs); }))
            busy(request, responder, startedNs, "text/plain; charset=utf-8", PageBusy);
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
    r.headers.reserve(r.headers.size() + 3); // room for what is added below, in one allocation
    r.headers.append(std::pair(QByteArrayLiteral("ETag"), pageTag));
    r.headers.append(std::pair(QByteArrayLiteral("Vary"), QByteArrayLiteral("Accept-Encoding")));
    if (request.matchesTag(pageTag)) {
        r.status = 304;
    } else {
        r.contentType = QByteArrayLiteral("text/html; charset=utf-8");
        r.body = gzip ? m_pageGzip : m_pageHtml;
        if (gzip)
            r.headers.append(std::pair(QByteArrayLiteral("Content-Encoding"), QByteArrayLiteral("gzip")));
    }
    reply(request, responder, r, startedNs);
}

void ScoreService::exchange(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // every reply carries the records
        if (!m_storage->whenLoaded([=, this] { exchange(request, responder, startedNs); })) {
            m_metrics.refused("storage_error");
            busy(request, responder, startedNs, ExchangeType, formatReply(m_page.records, BusyMessage));
        }
        return;
    }
    HttpResponse r = exchangeResponse();
    QString refusal;
    const QString from = client(request);
    const auto parsed = parseSubmission(request.query, &refusal);
    if (!parsed) {
        m_metrics.refused("invalid");
        r.body = formatReply(m_page.records, refusal);
    } else if (request.isHead()) {
        // The headers a GET would get, without storing or counting against the limit.
        r.body = formatReply(m_page.records, thanksMessage({}));
    } else if (!m_limiter.allow(from)) {
        m_metrics.refused("rate_limited");
        r.body = formatReply(m_page.records, QStringLiteral("Your scores were not recorded: too many submissions from "
                                                            "your address. Please try again in a minute."));
    } else {
        m_batcher.add({{parsed->scores, parsed->name, from}, responder, request, startedNs});
        return;
    }
    reply(request, responder, r, startedNs);
}

void ScoreService::replays(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // a replay is matched against the standings
        if (!m_storage->whenLoaded([=, this] { replays(request, responder, startedNs); }))
            busy(request, responder, startedNs, ExchangeType, toCp1252(ReplaysBusyMessage));
        return;
    }
    HttpResponse r = exchangeResponse();
    QString refusal;
    const QString from = client(request);
    const std::optional<ReplaySubmission> parsed = parseReplaySubmission(request.query, &refusal);
    if (!parsed) {
        m_metrics.replay("malformed");
        r.body = toCp1252(refusal);
    } else if (request.isHead()) {
        r.body = toCp1252(replayMessage({}, {}));
    } else if (!m_replayLimiter.allow(from)) {
        r.body = toCp1252(QStringLiteral("Your replays were not checked: too many requests from your address. "
                                         "Please try again in a minute."));
    } else {
        m_storage->verify(*parsed, from, [this, request, responder, startedNs, name = parsed->name](const ReplayOutcome& o) {
            replaysChecked(request, responder, name, o, startedNs);
        });
        return;
    }
    reply(request, responder, r, startedNs);
}

void ScoreService::replaysChecked(const HttpRequest& request, const HttpResponder& responder, const QString& name,
                                  const ReplayOutcome& o, qint64 startedNs)
{
    if (!o.ok) {
        qCWarning(lcStore, "zimble-scored: storing replays failed: %s", logSafe(o.error).constData());
        std::fflush(stderr);
        HttpResponse failed = exchangeResponse(503);
        failed.body = toCp1252(ReplaysBusyMessage);
        reply(request, responder, failed, startedNs);
        return;
    }
    if (o.page)
        setPage(*o.page);
    m_replies.clear();
    for (const ReplayResult& result : o.results) {
        m_metrics.replay(result.verified ? QByteArray("verified") : result.reason.toLatin1());
        // Verified records are the world records only when only verified games count.
        if (result.newRecord && m_options.verifiedOnly)
            m_metrics.recordsSet(1);
        if (!result.verified && m_options.log)
            qCInfo(lcService, "zimble-scored: replay for %d x %d by %s refused: %s", result.board, result.board,
                   logSafe(name).constData(), logSafe(result.reason).constData());
    }
    std::fflush(stderr);
    // The player's congratulation stands beside the verdict, since this line replaces the
    // exchange's message in the game.
    QList<int> held;
    for (int i = 0; i < BoardSizeCount; ++i) {
        if (!m_page.records[i].holder.isEmpty() && m_page.records[i].holder == name)
            held.append(FirstBoard + i);
    }
    HttpResponse done = exchangeResponse();
    done.body = toCp1252(replayMessage(o.results, o.ranks, held));
    reply(request, responder, done, startedNs);
}

void ScoreService::stopAccepting(std::function<void()> drained)
{
    for (HttpServer* s : std::as_const(m_servers))
        s->close();
    m_batcher.drain(std::move(drained));
}

void ScoreService::committed(const QList<PendingSubmission>& batch, const BatchOutcome& outcome)
{
    m_metrics.batch(int(batch.size()), outcome.seconds);
    if (outcome.page)
        setPage(*outcome.page);
    if (outcome.ok || outcome.page)
        m_replies.clear();
    if (!outcome.ok) {
        qCWarning(lcStore, "zimble-scored: storing %lld submission(s) failed: %s", static_cast<long long>(batch.size()),
                  logSafe(outcome.error).constData());
        std::fflush(stderr);
    }
    // The records are the same in every reply of the batch: only the messages differ.
    const QByteArray head = replyHead(outcome.ok ? outcome.records : m_page.records);
    for (qsizetype i = 0; i < batch.size(); ++i) {
        const PendingSubmission& w = batch[i];
        HttpResponse r = exchangeResponse(outcome.ok ? 200 : 503);
        if (outcome.ok) {
            const QList<int>& won = outcome.won[i];
            m_metrics.stored(1);
            m_metrics.recordsSet(int(won.size()));
            r.body = zimble::formatReply(head, thanksMessage(won, outcome.ranks.value(i)));
        } else {
            m_metrics.refused("storage_error");
            r.body = zimble::formatReply(head, BusyMessage);
        }
        reply(w.request, w.responder, r, w.startedNs);
    }
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
    m_metrics.request(m_router.nameOf(request.path), response.status);
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
