// The service's web routes: a player's page and the JSON API, answered from a cache that every
// stored submission, replay and page change empties.

#include "scoreservice.h"

#include "server/web/api.h"
#include "server/web/pages.h"
#include "server/web/replaypage.h"

#include "scores/codepage.h"
#include "scores/exchange.h"

#include <algorithm>

namespace zimble::server {

namespace {

// Places around a player shown on the player's page, above and below.
constexpr int PageNeighbours = 2;
// Places around a player in the API's answer about a player, and by default for `around`.
constexpr int ApiNeighbours = 5;
constexpr int MaxApiNeighbours = 50;

// A whole number from 0 to `most` written with digits only ("+5", "5 " and "5\0" are not).
std::optional<int> strictNumber(const QByteArray& text, int most)
{
    if (text.isEmpty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int n = text.toInt();
    return n <= most ? std::optional<int>(n) : std::nullopt;
}

// A replay's id: a whole number above 0 written with digits only.
std::optional<qint64> replayId(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const qint64 id = text.toLongLong();
    return id > 0 ? std::optional<qint64>(id) : std::nullopt;
}

const QString ApiBusy = QStringLiteral("the score service is busy; please try again later");

const QString TooManyPlayerRequests =
    QStringLiteral("too many player requests from your address; please try again in a minute");

const QString TooManyReplayRequests =
    QStringLiteral("too many replay requests from your address; please try again in a minute");

} // namespace

std::optional<QByteArray> queryValue(const QByteArray& query, const QByteArray& key)
{
    // A scan over the query: only the value found is copied.
    const QByteArrayView all(query);
    for (qsizetype start = 0; start <= all.size();) {
        qsizetype end = all.indexOf('&', start);
        if (end < 0)
            end = all.size();
        const QByteArrayView pair = all.sliced(start, end - start);
        const qsizetype eq = pair.indexOf('=');
        if ((eq < 0 ? pair : pair.first(eq)) == key) {
            // As forms send them: "+" is a space, "%2B" a plus.
            QByteArray value = eq < 0 ? QByteArray() : pair.sliced(eq + 1).toByteArray();
            return QByteArray::fromPercentEncoding(value.replace('+', ' '));
        }
        start = end + 1;
    }
    return std::nullopt;
}

// A template, so that an answer found in the cache costs no closure.
template <typename Make>
void ScoreService::cached(const HttpRequest& request, const HttpResponder& responder, const QByteArray& key,
                          qint64 startedNs, Make&& make)
{
    if (const CachedReply* hit = m_replies.find(key)) {
        sendCached(request, responder, *hit, startedNs);
        return;
    }
    const quint64 generation = m_replies.generation();
    make([this, request, responder, key, startedNs, generation](CachedReply made) {
        made.prepare();
        // What was read before the cache was emptied may be out of date already: sent, not kept.
        m_replies.insert(key, made, generation);
        sendCached(request, responder, made, startedNs);
    });
}

void ScoreService::player(const HttpRequest& request, const HttpResponder& responder, const QByteArray& rawName,
                          qint64 startedNs)
{
    // Kept under the name as sent: a page found in the cache needs no decoding of it. The same
    // bytes always decode to the same name, so an answer is never found under another's name.
    cached(request, responder, "page\n" + rawName, startedNs, [this, rawName](std::function<void(CachedReply)> give) {
        const QString name = cleanPlayerName(decodeName(rawName));
        m_storage->players(name, PageNeighbours, [this, name, give](bool ok, const FoundPlayers& players) {
            if (!ok) {
                give({503, "text/plain; charset=utf-8", PageBusy, false});
                return;
            }
            give({200, "text/html; charset=utf-8", playerPage(name, players, m_options.verifiedOnly), false});
        });
    });
}

void ScoreService::api(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    if (!m_storage->isLoaded()) { // just started: the records wait for the standings
        if (!m_storage->whenLoaded([=, this] { api(request, responder, startedNs); }))
            apiError(request, responder, 503, ApiBusy, startedNs);
        return;
    }
    if (request.path == "/api/v1/records")
        apiRecords(request, responder, startedNs);
    else if (request.path.startsWith("/api/v1/players/"))
        apiPlayer(request, responder, startedNs);
    else if (request.path.startsWith("/api/v1/replays/"))
        apiReplay(request, responder, startedNs);
    else
        apiError(request, responder, 404,
                 QStringLiteral("no such API address; see /api/v1/records, /api/v1/players/NAME and /api/v1/replays/ID"), startedNs);
}

void ScoreService::apiRecords(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    const std::optional<QByteArray> boardText = queryValue(request.query, "board");
    const std::optional<QByteArray> aroundText = queryValue(request.query, "around");
    const std::optional<QByteArray> countText = queryValue(request.query, "count");
    const std::optional<int> board = boardText ? strictNumber(*boardText, LastBoard) : 0;
    if (boardText && (!board || *board < FirstBoard))
        return apiError(request, responder, 400,
                        QStringLiteral("board must be a board size from %1 to %2").arg(MinBoardSize).arg(MaxBoardSize), startedNs);
    if (aroundText) {
        if (!boardText)
            return apiError(request, responder, 400, QStringLiteral("around needs a board"), startedNs);
        return apiAround(request, responder, *board, countText, *aroundText, startedNs);
    }
    if (countText)
        return apiError(request, responder, 400, QStringLiteral("count goes with around"), startedNs);
    cached(request, responder, "records\n" + QByteArray::number(*board), startedNs,
           [this, b = *board](std::function<void(CachedReply)> give) { give({200, ApiType, recordsJson(m_page, b), true}); });
}

void ScoreService::apiAround(const HttpRequest& request, const HttpResponder& responder, int board,
                             const std::optional<QByteArray>& countText, const QByteArray& aroundText, qint64 startedNs)
{
    const std::optional<int> count = countText ? strictNumber(*countText, MaxApiNeighbours) : ApiNeighbours;
    if (!count)
        return apiError(request, responder, 400, QStringLiteral("count must be a whole number from 0 to 50"), startedNs);
    if (aroundText.trimmed().isEmpty())
        return apiError(request, responder, 400, QStringLiteral("around wants a player's name"), startedNs);
    if (!playerLookupAllowed(request))
        return apiError(request, responder, 429, TooManyPlayerRequests, startedNs);
    // Kept under the name as sent, like a player's page.
    const QByteArray key = "around\n" + QByteArray::number(board) + '\n' + QByteArray::number(*count) + '\n' + aroundText;
    cached(request, responder, key, startedNs, [this, board, aroundText, n = *count](std::function<void(CachedReply)> give) {
        const QString name = cleanPlayerName(decodeName(aroundText));
        m_storage->around(board, name, n, [give](bool ok, const std::optional<RankedSlice>& slice) {
            if (!ok)
                give({503, ApiType, errorJson(ApiBusy), true});
            else if (slice)
                give({200, ApiType, aroundJson(*slice), true});
            else
                give({404, ApiType, errorJson(QStringLiteral("no player of that name has a score on this board")), true});
        });
    });
}

void ScoreService::apiPlayer(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    static const QByteArray players = "/api/v1/players/";
    const QByteArray raw = QByteArray::fromPercentEncoding(request.path.mid(players.size()));
    if (raw.trimmed().isEmpty())
        return apiError(request, responder, 400, QStringLiteral("the address must end with a player's name"), startedNs);
    if (!playerLookupAllowed(request))
        return apiError(request, responder, 429, TooManyPlayerRequests, startedNs);
    // Kept under the name as sent, like a player's page.
    cached(request, responder, "player\n" + raw, startedNs, [this, raw](std::function<void(CachedReply)> give) {
        const QString name = cleanPlayerName(decodeName(raw));
        m_storage->players(name, ApiNeighbours, [give](bool ok, const FoundPlayers& found) {
            if (!ok)
                give({503, ApiType, errorJson(ApiBusy), true});
            else if (found.players.isEmpty())
                give({404, ApiType, errorJson(QStringLiteral("no player of that name has a score")), true});
            else
                give({200, ApiType, playersJson(found), true});
        });
    });
}

void ScoreService::apiReplay(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    static const QByteArray replays = "/api/v1/replays/";
    const std::optional<qint64> id = replayId(request.path.mid(replays.size()));
    if (!id)
        return apiError(request, responder, 400, QStringLiteral("the address must end with a replay's number"), startedNs);
    cached(request, responder, "replay\n" + QByteArray::number(*id), startedNs, [this, request, id = *id](std::function<void(CachedReply)> give) {
        // Only what the cache does not hold is read from the database, and limited like player pages.
        if (!playerLookupAllowed(request))
            return give({429, ApiType, errorJson(TooManyReplayRequests), true});
        m_storage->replay(id, [give](bool ok, const std::optional<StoredReplay>& r) {
            if (!ok)
                give({503, ApiType, errorJson(ApiBusy), true});
            else if (!r)
                give({404, ApiType, errorJson(QStringLiteral("no replay has this number")), true});
            else
                give({200, ApiType, replayJson(*r, replayScores(*r)), true});
        });
    });
}

void ScoreService::replayPage(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    const std::optional<QByteArray> text = queryValue(request.query, "id");
    const std::optional<qint64> id = text ? replayId(*text) : std::nullopt;
    auto page = [](int status, const QByteArray& body) {
        CachedReply c{status, "text/html; charset=utf-8", body, false};
        c.script = true; // its style sheet is the replay page's
        return c;
    };
    if (!id)
        return sendCached(request, responder, page(400, noReplayPage(true)), startedNs);
    cached(request, responder, "replay page\n" + QByteArray::number(*id), startedNs,
           [this, request, id = *id, page](std::function<void(CachedReply)> give) {
               if (!playerLookupAllowed(request))
                   return give({429, "text/plain; charset=utf-8", "Too many replay pages from your address; please try again in a minute.\n", false});
               m_storage->replay(id, [give, page](bool ok, const std::optional<StoredReplay>& r) {
                   if (!ok)
                       give({503, "text/plain; charset=utf-8", PageBusy, false});
                   else if (!r || !r->verified)
                       give(page(404, noReplayPage(false)));
                   else
                       give(page(200, server::replayPage(*r, replayScores(*r))));
               });
           });
}

void ScoreService::staticFiles(const HttpRequest& request, const HttpResponder& responder, qint64 startedNs)
{
    HttpResponse r;
    const StaticFile* file = staticFile(request.path);
    if (!file) {
        r.status = 404;
        r.body = "Not found.\n";
        r.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
        return reply(request, responder, r, startedNs);
    }
    r.headers = {{"Cache-Control", StaticCacheControl}, {"X-Content-Type-Options", "nosniff"}, {"ETag", file->tag}};
    if (request.matchesTag(file->tag)) {
        r.status = 304;
        return reply(request, responder, r, startedNs);
    }
    r.contentType = file->type;
    r.body = file->body;
    reply(request, responder, r, startedNs);
}

void ScoreService::sendCached(const HttpRequest& request, const HttpResponder& responder, const CachedReply& c,
                              qint64 startedNs)
{
    HttpResponse r;
    r.status = c.status;
    r.headers = c.api ? apiHeaders() : c.script ? replayPageHeaders() : pageHeaders();
    r.headers.reserve(r.headers.size() + 4); // room for what is added below, in one allocation
    // Only a found answer may be kept by caches; "busy" says when to ask again.
    if (c.status != 200)
        r.headers.first().second = "no-store";
    if (c.status == 503 || c.status == 429)
        r.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", c.status == 503 ? "5" : "60"));
    const bool gzip = !c.gzipBody.isEmpty() && request.acceptsGzip();
    if (c.status == 200)
        r.headers.append(std::pair(QByteArrayLiteral("Vary"), QByteArrayLiteral("Accept-Encoding")));
    if (!c.tag.isEmpty()) {
        const QByteArray& tag = gzip ? c.gzipTag : c.tag;
        r.headers.append(std::pair(QByteArrayLiteral("ETag"), tag));
        if (request.matchesTag(tag)) {
            r.status = 304;
            reply(request, responder, r, startedNs);
            return;
        }
    }
    r.contentType = c.type;
    r.body = gzip ? c.gzipBody : c.body;
    if (gzip)
        r.headers.append(std::pair(QByteArrayLiteral("Content-Encoding"), QByteArrayLiteral("gzip")));
    reply(request, responder, r, startedNs);
}

void ScoreService::apiError(const HttpRequest& request, const HttpResponder& responder, int status, const QString& message,
                            qint64 startedNs)
{
    CachedReply c{status, ApiType, errorJson(message), true};
    if (status != 429) {
        sendCached(request, responder, c, startedNs);
        return;
    }
    HttpResponse r;
    r.status = status;
    r.headers = apiHeaders();
    r.headers.first().second = "no-store";
    r.headers.append(std::pair(QByteArrayLiteral("Retry-After"), QByteArrayLiteral("60")));
    r.contentType = c.type;
    r.body = c.body;
    reply(request, responder, r, startedNs);
}

} // namespace zimble::server
