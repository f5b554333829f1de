#pragma once
// The HTTP side of the score service: routes, limits, the game's page, metrics and the request log.

#include "server/http/http.h"
#include "metrics.h"
#include "replycache.h"
#include "router.h"
#include "submissionbatcher.h"
#include "server/store/storage.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace zimble::server {

// At most `perMinute` events per client in any 60 seconds (0: no limit): an event counts until
// 60 seconds after it. Clients are told apart by clientKey(), an IPv6 one by its network.
class RateLimiter {
public:
    explicit RateLimiter(int perMinute, std::function<qint64()> nowMs = {}, int ipv6Prefix = DefaultIpv6Prefix);
    // Records one event for the address when it is within its limit; false when over it.
    bool allow(const QString& client);
    bool limits() const { return m_perMinute > 0; }

private:
    int m_perMinute;
    std::function<qint64()> m_now;
    int m_ipv6Prefix;
    QHash<QString, std::deque<qint64>> m_events;
    qint64 m_lastSweep = 0;
};

// Text for the log: control, format (bidi and other invisible) and non-printing characters, and
// the backslash, are written as escapes, so a line says what came and nothing more.
QByteArray logSafe(const QString& text);

// The value of `key` in a raw query ("a=1&b=2"), "+" read as a space and percent-decoded;
// nothing when absent.
std::optional<QByteArray> queryValue(const QByteArray& query, const QByteArray& key);

// The client a request speaks for: the peer, or for a trusted proxy the last address of its
// X-Forwarded-For (the peer when that is missing or not an address).
QHostAddress clientAddress(const HttpRequest& request, const QList<QHostAddress>& trustedProxies);

// Whether a request may read /metrics. A direct request: from loopback (when `metricsFrom` is
// empty) or from an address in `metricsFrom`. A request forwarded by a trusted proxy: only when
// `metricsFrom` names the client it was forwarded for; a forwarded loopback address is not local.
bool metricsAllowed(const HttpRequest& request, const QList<QHostAddress>& trustedProxies,
                    const QList<QHostAddress>& metricsFrom);

// Joins the parts: the router hands each request to one of the handlers here, which answer
// from the records held here, from the reply cache, or through the batcher and the storage
// thread. Invariant: what is sent and cached follows the last page the storage handed over;
// every change of it empties the reply cache.
class ScoreService : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxBatch = Storage::MaxBatch;
    // Player pages served to one client address in any minute, when submissions are limited.
    static constexpr int PlayerPagesPerMinute = 60;

    struct Options {
        Options(QString db = {}, int perMinute = 10, bool logRequests = true)
            : database(std::move(db)), rateLimitPerMinute(perMinute), log(logRequests) {}
        QString database;
        int rateLimitPerMinute = 10;
        bool log = true;
        QList<QHostAddress> trustedProxies;
        QList<QHostAddress> metricsFrom; // empty: loopback addresses only
        int maxConnections = 1024;
        qint64 headerDeadlineMs = HttpServer::HeaderDeadlineMs; // a request head must be complete in this time
        bool verifiedOnly = false; // records, the ten best and ranks count verified games only
        int ipv6Prefix = DefaultIpv6Prefix; // IPv6 clients are counted by networks of this prefix
    };
    explicit ScoreService(const Options& options, QObject* parent = nullptr);
    ~ScoreService() override;

    bool isReady() const { return m_storage->isOpen(); }
    // Whether the standings have been read (they are, in the background, after opening).
    bool standingsLoaded() const { return m_storage->isLoaded(); }
    QString storeError() const { return m_storage->openError(); }
    // Starts listening on address:port; returns the port, 0 on failure (listenError() says why).
    quint16 listenOn(const QHostAddress& address, quint16 port);
    QAbstractSocket::SocketError listenError() const { return m_listenError; }

    // The game's page (see recordsPage), rendered again only when what it shows has changed.
    QByteArray gamePage();
    QByteArray metricsText() const;
    // Stops listening; `drained` runs once every submission taken has been stored and answered.
    void stopAccepting(std::function<void()> drained);

private:
    // What a page answers while the storage cannot: the records page, a player's page, a replay's.
    static inline const QByteArray PageBusy = QByteArrayLiteral("The score service is busy; please try again later.\n");
    void addRoutes();
    void handle(const HttpRequest& request, const HttpResponder& responder);
    QString client(const HttpRequest& request) const;
    // Counts one player page, player answer or replay read against the client's limit; false past it.
    bool playerLookupAllowed(const HttpRequest& request);
    void health(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void metrics(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void exchange(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void pages(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void page(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    // `rawName`: the name as the query gave it, percent-decoded.
    void player(const HttpRequest& request, const HttpResponder& responder, const QByteArray& rawName, qint64 startedNs);
    void replays(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void replaysChecked(const HttpRequest& request, const HttpResponder& responder, const QString& name,
                        const ReplayOutcome& outcome, qint64 startedNs);
    void committed(const QList<PendingSubmission>& batch, const BatchOutcome& outcome);
    void setPage(const PageData& page);
    // 503 with Retry-After: the store cannot answer now.
    void busy(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs, const QByteArray& contentType,
              const QByteArray& body);
    void reply(const HttpRequest& request, const HttpResponder& responder, const HttpResponse& response,
               qint64 startedNs);

    // The JSON API and player pages (webroutes.cpp), answered through the reply cache.
    void api(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void apiRecords(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void apiAround(const HttpRequest& request, const HttpResponder& responder, int board,
                   const std::optional<QByteArray>& countText, const QByteArray& aroundText, qint64 startedNs);
    void apiPlayer(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void apiReplay(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    // A game's replay page, and the files it loads (its script, the board's pictures).
    void replayPage(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    void staticFiles(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs);
    // Answers from the cache, or runs `make` and keeps what it gives (see ReplyCache::insert).
    template <typename Make>
    void cached(const HttpRequest& request, const HttpResponder& responder, const QByteArray& key, qint64 startedNs,
                Make&& make);
    void sendCached(const HttpRequest& request, const HttpResponder& responder, const CachedReply& reply, qint64 startedNs);
    void apiError(const HttpRequest& request, const HttpResponder& responder, int status, const QString& message,
                  qint64 startedNs);

    Options m_options;
    std::unique_ptr<Storage> m_storage;
    RateLimiter m_limiter;
    RateLimiter m_replayLimiter;
    RateLimiter m_playerPageLimiter; // a player's page goes through the storage thread
    Metrics m_metrics;
    Router m_router;
    ReplyCache m_replies;
    SubmissionBatcher m_batcher;
    QList<HttpServer*> m_servers;
    QAbstractSocket::SocketError m_listenError = QAbstractSocket::UnknownSocketError;
    QElapsedTimer m_clock;

    PageData m_page;
    QByteArray m_pageHtml;
    QByteArray m_pageTag;
    QByteArray m_pageGzip; // the page in gzip form, made on the first request that asks for it
    QByteArray m_pageGzipTag;
    bool m_pageStale = true;
};

} // namespace zimble::server
