// The service's web routes: a player's page and the JSON API, answered from a cache that every
// stored submission, replay and page change empties.

#include "scoreservice.h"

#include "server/web/api.h"
#include "server/web/gzip.h"
#include "server/web/pages.h"

#include "scores/codepage.h"
#include "scores/exchange.h"

#include <QCryptographicHash>

namespace zimble::server {

namespace {

// Places around a player shown on the player's page, above and below.
constexpr int PageNeighbours = 2;
// Places around a player in the API's answer about a player, and by default for `around`.
constexpr int ApiNeighbours = 5;
constexpr int MaxApiNeighbours = 50;
// Cached player pages and API answers; past this many, or this many bytes, the cache starts afresh.
constexpr qsizetype MaxCachedReplies = 4096;
constexpr qsizetype MaxCachedBytes = 32 * 1024 * 1024;
// Answers shorter than this go out as they are: gzip would save too little to matter.
constexpr qsizetype MinGzipBytes = 1024;

} // namespace

std::optional<QByteArray> queryValue(const QByteArray& query, const QByteArray& key)
{
    for (const QByteArray& pair : query.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if ((eq < 0 ? pair : pair.left(eq)) == key)
            return QByteArray::fromPercentEncoding(eq < 0 ? QByteArray() : pair.mid(eq + 1));
    }
    return std::nullopt;
}

void ScoreService::player(const HttpRequest& request, const HttpResponder& responder, const QString& name,
                          qint64 startedNs)
{
    cached(request, responder, "page\n" + name.toUtf8(), startedNs, [this, name](std::function<void(CachedReply)> give) {
        m_storage->players(name, PageNeighbours, [this, name, give](bool ok, const FoundPlayers& players) {
            if (!ok) {
                give({503, "text/plain; charset=utf-8", "The score service is busy; please try again later.\n", {}, false});
                return;
            }
            give({200, "text/html; charset=utf-8", playerPage(name, players, m_options.verifiedOnly), {}, false});
        });
    });
}

void ScoreService::api(const HttpRequest& request, const HttpResponder& responder, const QString& client, qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // just started: the records wait for the standings
        if (!m_storage->whenLoaded([=, this] { api(request, responder, client, startedNs); }))
            apiError(request, responder, 503, QStringLiteral("the score service is busy; please try again later"), startedNs);
        return;
    }
    auto fail = [&](int status, const QString& message) { apiError(request, responder, status, message, startedNs); };
    if (request.path == "/api/v1/records") {
        const std::optional<QByteArray> boardText = queryValue(request.query, "board");
        const std::optional<QByteArray> aroundText = queryValue(request.query, "around");
        const std::optional<QByteArray> countText = queryValue(request.query, "count");
        bool ok = true;
        const int board = boardText ? boardText->toInt(&ok) : 0;
        if (boardText && (!ok || board < FirstBoard || board > LastBoard))
            return fail(400, QStringLiteral("board must be a board size from %1 to %2").arg(MinBoardSize).arg(MaxBoardSize));
        if (!aroundText) {
            if (countText)
                return fail(400, QStringLiteral("count goes with around"));
            cached(request, responder, "records\n" + QByteArray::number(board), startedNs,
                   [this, board](std::function<void(CachedReply)> give) {
                       give({200, ApiType, recordsJson(m_page, board), {}, true});
                   });
            return;
        }
        if (!boardText)
            return fail(400, QStringLiteral("around needs a board"));
        const int count = countText ? countText->toInt(&ok) : ApiNeighbours;
        if (!ok || count < 0 || count > MaxApiNeighbours)
            return fail(400, QStringLiteral("count must be a whole number from 0 to 50"));
        if (aroundText->trimmed().isEmpty())
            return fail(400, QStringLiteral("around wants a player's name"));
        if (!m_playerPageLimiter.allow(client))
            return fail(429, QStringLiteral("too many player requests from your address; please try again in a minute"));
        const QString name = cleanPlayerName(decodeName(*aroundText));
        const QByteArray key = "around\n" + QByteArray::number(board) + '\n' + QByteArray::number(count) + '\n' + name.toUtf8();
        cached(request, responder, key, startedNs, [this, board, name, count](std::function<void(CachedReply)> give) {
            m_storage->around(board, name, count, [give](const std::optional<RankedSlice>& slice) {
                if (slice)
                    give({200, ApiType, aroundJson(*slice), {}, true});
                else
                    give({404, ApiType, errorJson(QStringLiteral("no player of that name has a score on this board")), {}, true});
            });
        });
        return;
    }
    static const QByteArray players = "/api/v1/players/";
    if (request.path.startsWith(players)) {
        const QByteArray raw = QByteArray::fromPercentEncoding(request.path.mid(players.size()));
        if (raw.trimmed().isEmpty())
            return fail(400, QStringLiteral("the address must end with a player's name"));
        if (!m_playerPageLimiter.allow(client))
            return fail(429, QStringLiteral("too many player requests from your address; please try again in a minute"));
        const QString name = cleanPlayerName(decodeName(raw));
        cached(request, responder, "player\n" + name.toUtf8(), startedNs, [this, name](std::function<void(CachedReply)> give) {
            m_storage->players(name, ApiNeighbours, [give](bool ok, const FoundPlayers& found) {
                if (!ok)
                    give({503, ApiType, errorJson(QStringLiteral("the score service is busy; please try again later")), {}, true});
                else if (found.players.isEmpty())
                    give({404, ApiType, errorJson(QStringLiteral("no player of that name has a score")), {}, true});
                else
                    give({200, ApiType, playersJson(found), {}, true});
            });
        });
        return;
    }
    fail(404, QStringLiteral("no such API address; see /api/v1/records and /api/v1/players/NAME"));
}

void ScoreService::cached(const HttpRequest& request, const HttpResponder& responder, const QByteArray& key,
                          qint64 startedNs, std::function<void(std::function<void(CachedReply)>)> make)
{
    const auto hit = m_replies.constFind(key);
    if (hit != m_replies.constEnd()) {
        sendCached(request, responder, *hit, startedNs);
        return;
    }
    const quint64 generation = m_repliesGeneration;
    make([this, request, responder, key, startedNs, generation](CachedReply made) {
        if (made.status == 200) {
            made.tag = '"' + QCryptographicHash::hash(made.body, QCryptographicHash::Sha1).toHex().left(24) + '"';
            // Sent many times from the cache: compressed once, when it pays.
            if (made.body.size() >= MinGzipBytes)
                made.gzipBody = gzipCompressed(made.body);
        }
        // What was read before the cache was emptied may be out of date already: sent, not kept.
        if ((made.status == 200 || made.status == 404) && generation == m_repliesGeneration) {
            if (m_replies.size() >= MaxCachedReplies || m_repliesBytes + made.body.size() > MaxCachedBytes) {
                m_replies.clear();
                m_repliesBytes = 0;
            }
            m_replies.insert(key, made);
            m_repliesBytes += made.body.size() + made.gzipBody.size();
        }
        sendCached(request, responder, made, startedNs);
    });
}

void ScoreService::sendCached(const HttpRequest& request, const HttpResponder& responder, const CachedReply& c,
                              qint64 startedNs)
{
    HttpResponse r;
    r.status = c.status;
    r.headers = c.api ? apiHeaders() : pageHeaders();
    // Only a found answer may be kept by caches; "busy" says when to ask again.
    if (c.status != 200)
        r.headers.first().second = "no-store";
    if (c.status == 503)
        r.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "5"));
    const bool gzip = !c.gzipBody.isEmpty() && request.acceptsGzip();
    if (c.status == 200)
        r.headers.append(std::pair<QByteArray, QByteArray>("Vary", "Accept-Encoding"));
    if (!c.tag.isEmpty()) {
        const QByteArray tag = gzip ? gzipTag(c.tag) : c.tag;
        r.headers.append(std::pair<QByteArray, QByteArray>("ETag", tag));
        if (request.matchesTag(tag)) {
            r.status = 304;
            reply(request, responder, r, startedNs);
            return;
        }
    }
    r.contentType = c.type;
    r.body = gzip ? c.gzipBody : c.body;
    if (gzip)
        r.headers.append(std::pair<QByteArray, QByteArray>("Content-Encoding", "gzip"));
    reply(request, responder, r, startedNs);
}

void ScoreService::apiError(const HttpRequest& request, const HttpResponder& responder, int status, const QString& message,
                            qint64 startedNs)
{
    CachedReply c{status, ApiType, errorJson(message), {}, true};
    if (status != 429) {
        sendCached(request, responder, c, startedNs);
        return;
    }
    HttpResponse r;
    r.status = status;
    r.headers = apiHeaders();
    r.headers.first().second = "no-store";
    r.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "60"));
    r.contentType = c.type;
    r.body = c.body;
    reply(request, responder, r, startedNs);
}

void ScoreService::forgetReplies()
{
    m_replies.clear();
    m_repliesBytes = 0;
    ++m_repliesGeneration;
}

} // namespace zimble::server
