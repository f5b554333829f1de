#include "api.h"

#include "pages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace zimble::server {

namespace {

// A ZQ as a JSON number with at most four decimals.
QJsonValue zq(qint64 score)
{
    return std::round(double(score) * 10000.0) / 10000.0;
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
        out.append(QJsonObject{{QStringLiteral("rank"), firstRank + k},
                               {QStringLiteral("name"), e.name},
                               {QStringLiteral("zq"), zq(e.score)},
                               {QStringLiteral("date"), date(e.at)},
                               {QStringLiteral("verified"), e.verified}});
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
    return {{"Cache-Control", "public, max-age=" + QByteArray::number(PageMaxAgeSeconds)},
            {"Access-Control-Allow-Origin", "*"},
            {"X-Content-Type-Options", "nosniff"}};
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
            boards.append(QJsonObject{{QStringLiteral("size"), b.board},
                                      {QStringLiteral("zq"), zq(b.score)},
                                      {QStringLiteral("date"), date(b.at)},
                                      {QStringLiteral("rank"), b.rank.rank},
                                      {QStringLiteral("players"), b.rank.players},
                                      {QStringLiteral("verified"), b.verified},
                                      {QStringLiteral("around"), records(b.around.entries, b.around.firstRank)},
                                      {QStringLiteral("history"), history}});
        }
        list.append(QJsonObject{{QStringLiteral("name"), p.name}, {QStringLiteral("boards"), boards}});
    }
    return compact({{QStringLiteral("players"), list}, {QStringLiteral("more"), found.more}});
}

QByteArray errorJson(const QString& message)
{
    return compact({{QStringLiteral("error"), message}});
}

} // namespace zimble::server
