#include "api.h"

#include "pages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace zimble::server {

namespace {

// A ZQ as a JSON number with at most four decimals.
QJsonValue zq(qint64 score)
{
    return std::round(double(score) * 10000.0) / 10000.0;
}

// A ZQ as the game computes it, four decimals at most.
QJsonValue fixedZq(FixedPoint score)
{
    return double(score.raw()) / double(FixedPoint::Scale);
}

QJsonValue date(const QDateTime& at)
{
    return at.isValid() ? QJsonValue(at.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonArray records(const QList<RankedEntry>& entries, qint64 firstRank)
{
    QJsonArray out;
    for (qsizetype k = 0; k < entries.size(); ++k) {
        const RankedEntry& e = entries[k];
        QJsonObject o{{QStringLiteral("rank"), firstRank + k},
                      {QStringLiteral("name"), e.name},
                      {QStringLiteral("zq"), zq(e.score)},
                      {QStringLiteral("date"), date(e.at)},
                      {QStringLiteral("verified"), e.verified}};
        if (e.verified && e.replay > 0)
            o.insert(QStringLiteral("replay"), e.replay);
        out.append(o);
    }
    return out;
}

QJsonObject board(int size, const QJsonArray& rows)
{
    return {{QStringLiteral("size"), size}, {QStringLiteral("records"), rows}};
}

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

QList<std::pair<QByteArray, QByteArray>> apiHeaders()
{
    // Made once and shared: every API reply starts from these.
    static const QList<std::pair<QByteArray, QByteArray>> headers{
        {"Cache-Control", "public, max-age=" + QByteArray::number(PageMaxAgeSeconds)},
        {"Access-Control-Allow-Origin", "*"},
        {"X-Content-Type-Options", "nosniff"}};
    return headers;
}

QByteArray recordsJson(const PageData& data, int only)
{
    QJsonArray boards;
    for (int i = 0; i < BoardSizeCount; ++i) {
        if (only == 0 || only == FirstBoard + i)
            boards.append(board(FirstBoard + i, records(data.best[i], 1)));
    }
    return compact({{QStringLiteral("boards"), boards}});
}

QByteArray aroundJson(const RankedSlice& slice)
{
    return compact({{QStringLiteral("boards"), QJsonArray{board(slice.board, records(slice.entries, slice.firstRank))}}});
}

QByteArray playersJson(const FoundPlayers& found)
{
    QJsonArray list;
    for (const PlayerDetail& p : found.players) {
        QJsonArray boards;
        for (const PlayerBoardDetail& b : p.boards) {
            QJsonArray history;
            for (const HistoryPoint& h : b.history)
                history.append(QJsonObject{{QStringLiteral("date"), date(h.at)}, {QStringLiteral("zq"), zq(h.score)}});
            QJsonObject o{{QStringLiteral("size"), b.board},
                          {QStringLiteral("zq"), zq(b.score)},
                          {QStringLiteral("date"), date(b.at)},
                          {QStringLiteral("rank"), b.rank.rank},
                          {QStringLiteral("players"), b.rank.players},
                          {QStringLiteral("verified"), b.verified},
                          {QStringLiteral("around"), records(b.around.entries, b.around.firstRank)},
                          {QStringLiteral("history"), history}};
            if (b.verified && b.replay > 0)
                o.insert(QStringLiteral("replay"), b.replay);
            boards.append(o);
        }
        list.append(QJsonObject{{QStringLiteral("name"), p.name}, {QStringLiteral("boards"), boards}});
    }
    return compact({{QStringLiteral("players"), list}, {QStringLiteral("more"), found.more}});
}

std::vector<FixedPoint> replayScores(const StoredReplay& r)
{
    const ReplayVerdict v = verifyReplay(r.replay, r.whole);
    if (v != ReplayVerdict::Verified && v != ReplayVerdict::ScoreMismatch)
        return {};
    return scoresAfterEachClick(r.replay);
}

QByteArray replayJson(const StoredReplay& r, const std::vector<FixedPoint>& scores)
{
    const GameReplay& g = r.replay;
    const int size = std::max(1, g.boardSize);
    QJsonArray clicks;
    for (std::size_t k = 0; k < g.clicks.size(); ++k) {
        const std::int32_t tile = g.clicks[k];
        clicks.append(QJsonObject{{QStringLiteral("row"), tile / size + 1},
                                  {QStringLiteral("column"), tile % size + 1},
                                  {QStringLiteral("tile"), tile},
                                  {QStringLiteral("cycles"), g.cyclesAtClick(k)},
                                  {QStringLiteral("zq"), k < scores.size() ? fixedZq(scores[k]) : QJsonValue()}});
    }
    const QJsonValue submission = r.submission > 0
        ? QJsonValue(QJsonObject{{QStringLiteral("id"), r.submission},
                                 {QStringLiteral("name"), r.name},
                                 {QStringLiteral("zq"), zq(r.whole)},
                                 {QStringLiteral("date"), date(r.submittedAt)}})
        : QJsonValue();
    return compact({{QStringLiteral("id"), r.id},
                    {QStringLiteral("size"), g.boardSize},
                    {QStringLiteral("name"), r.name},
                    {QStringLiteral("verified"), r.verified},
                    {QStringLiteral("reason"), r.reason},
                    {QStringLiteral("pace"), g.hasClickCycles() ? QStringLiteral("as played") : QStringLiteral("even")},
                    {QStringLiteral("cycles"), g.clockCycles},
                    {QStringLiteral("secondsPerCycle"), CycleMs / 1000.0},
                    {QStringLiteral("zq"), scores.empty() ? QJsonValue() : fixedZq(scores.back())},
                    {QStringLiteral("submission"), submission},
                    {QStringLiteral("clicks"), clicks}});
}

QByteArray errorJson(const QString& message)
{
    return compact({{QStringLiteral("error"), message}});
}

} // namespace zimble::server
