// Replays on the score service: verified when they give the submitted ZQ from a legal game,
// refused with a reason otherwise, marked on the page, counted alone with --verified-only, and
// each player's ranks and this week's ten best.

#include "servicesupport.h"

#include "server/http/requestparser.h"
#include "server/protocol.h"
#include "server/scoreservice.h"
#include "server/store/scorestore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_MOC_RUN
#include "gamesupport.h"
#include "scores/exchange.h"
#endif

using namespace zimble;
using namespace zimble::server;
using namespace zimble::test;

namespace {

GameReplay playedReplay(int tiles = 5)
{
    return playedGame(tiles).replay();
}

qint64 wholeScore(const GameReplay& r)
{
    return toInt32HalfEven(r.score().toDouble());
}

// A game played to its end on a board of `size`: four rounds over every tile, the clock
// completing a cycle after every third click. `shown` gets the ZQ the game showed after each click.
GameReplay wholeGame(int size, std::vector<FixedPoint>* shown)
{
    GameState g;
    g.setBoardSize(size);
    const int tiles = size * size;
    for (int click = 0; click < HitsToRemoveTile * tiles; ++click) {
        const int tile = (click % tiles * 3 + click / tiles) % tiles;
        g.addHit(tile);
        shown->push_back(g.recordClick(tile));
        g.finishClick();
        if (click % 3 == 2)
            g.addClockCycle();
    }
    return g.replay();
}

QByteArray replayTarget(const QString& name, const std::vector<SubmittedReplay>& replays)
{
    QByteArray t = replayRequestTarget(name, replays).toUtf8();
    return t.replace(' ', "%20");
}

} // namespace

class TestReplays : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ScoreService> m_service;
    quint16 m_port = 0;
    int m_dbIndex = 0;
    QString m_db;

    void start(bool verifiedOnly = false, const QString& db = {}, int perMinute = 0)
    {
        m_service.reset();
        m_db = db.isEmpty() ? m_dir.filePath(QStringLiteral("r%1.sqlite").arg(++m_dbIndex)) : db;
        ScoreService::Options o(m_db, perMinute, false);
        o.verifiedOnly = verifiedOnly;
        m_service = std::make_unique<ScoreService>(o);
        QVERIFY2(m_service->isReady(), qPrintable(m_service->storeError()));
        m_port = m_service->listenOn(QHostAddress::LocalHost, 0);
        QVERIFY(m_port);
    }

    QString submitReplays(const QString& name, const std::vector<SubmittedReplay>& replays)
    {
        const Reply r = get(m_port, replayTarget(name, replays));
        return QString::fromLatin1(r.body);
    }

    // Whether the page lists the name on board 4 (all time), and with the verified mark.
    QString pageRow(const QString& name)
    {
        const QString page = QString::fromUtf8(get(m_port, "/zimble1.asp").body);
        const qsizetype section = page.indexOf(QStringLiteral("<section class=\"board\"><h2>4 &times;"));
        const qsizetype at = page.indexOf(QStringLiteral(">%1</a>").arg(name), section);
        if (section < 0 || at < 0)
            return {};
        const qsizetype rowStart = page.lastIndexOf(QStringLiteral("<li"), at);
        return page.mid(rowStart, page.indexOf(QStringLiteral("</li>"), at) - rowStart);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void playedReplayIsVerifiedAndMarked()
    {
        start();
        const GameReplay game = playedReplay();
        const qint64 whole = wholeScore(game);
        QCOMPARE(get(m_port, target(whole, 0, 0, 0, "Honest")).status, 200);
        // A forged submission is stored as it always was, only not verified.
        QVERIFY(get(m_port, target(whole + 1, 0, 0, 0, "Forger")).fields()[9].startsWith(QStringLiteral("Congratulations")));
        QCOMPARE(submitReplays(QStringLiteral("Honest"), {{whole, game}}),
                 QStringLiteral("Verified: 4 x 4. Your ranks: 4 x 4 2nd of 2."));
        const QString honest = pageRow(QStringLiteral("Honest"));
        QVERIFY2(honest.startsWith(QStringLiteral("<li class=\"row\" data-verified=\"yes\">")), qPrintable(honest));
        QVERIFY(honest.contains(QStringLiteral("title=\"Verified:")));
        // The forger's row carries no mark, and only the verified world record on the page does.
        const QString forger = pageRow(QStringLiteral("Forger"));
        QVERIFY2(forger.startsWith(QStringLiteral("<li class=\"row\"><span")) && !forger.contains(QStringLiteral("mark")),
                 qPrintable(forger));
        const QByteArray page = get(m_port, "/zimble1.asp").body;
        QCOMPARE(page.count("class=\"mark\""), 2); // Honest's rows of all time and of this week
        // The same in the API.
        const QJsonArray records = QJsonDocument::fromJson(get(m_port, "/api/v1/records?board=4").body)["boards"][0]["records"].toArray();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0]["name"].toString(), QStringLiteral("Forger"));
        QCOMPARE(records[0]["verified"], QJsonValue(false));
        QCOMPARE(records[1]["verified"], QJsonValue(true));
        // The player's own page.
        const QString mine = QString::fromUtf8(get(m_port, "/zimble1.asp?name=Honest").body);
        QVERIFY2(mine.contains(QStringLiteral("<p class=\"best\" data-verified=\"yes\">Best ZQ <span class=\"zq\">%1</span> "
                                              "<a class=\"mark\" href=\"/replay?id=1\"").arg(whole)),
                 qPrintable(mine));
        QVERIFY(mine.contains(QStringLiteral("<span class=\"place\">2nd of 2</span>")));
        // The history chart: drawn inline with no script and no style attributes (the page's
        // policy would block both), the date on its axis and the best ringed.
        const qsizetype chart = mine.indexOf(QStringLiteral("<figure class=\"chart\""));
        QVERIFY(chart > 0);
        const QString figure = mine.mid(chart, mine.indexOf(QStringLiteral("</figure>"), chart) - chart);
        QVERIFY(!mine.contains(QStringLiteral("<script")) && !mine.contains(QStringLiteral(" style=")));
        QVERIFY(figure.contains(QStringLiteral("<li>%1</li>").arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd")))));
        QVERIFY(figure.contains(QStringLiteral("<circle class=\"top\"")) && figure.contains(QStringLiteral("the best, %1.<").arg(whole)));
        QVERIFY(QString::fromUtf8(get(m_port, "/zimble1.asp?name=Nobody").body).contains(QStringLiteral("No scores")));
        // A name is HTML-escaped on its own page.
        QVERIFY(!get(m_port, "/zimble1.asp?name=%3Cscript%3E").body.contains("<script>"));
    }

    void tamperedReplaysAreRefused_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<QString>("reason");
        QTest::newRow("one click changed") << "change" << "score_mismatch";
        QTest::newRow("cycles inflated, no clock per click") << "cycles" << "score_mismatch";
        QTest::newRow("last click's clock past the game clock") << "last past" << "clock_at_each_click_not_as_played";
        QTest::newRow("a click's clock going back") << "decrease" << "clock_at_each_click_not_as_played";
        QTest::newRow("a clock per click missing") << "short" << "clock_at_each_click_not_as_played";
        QTest::newRow("a tile clicked five times") << "fifth" << "tile_clicked_too_often";
        QTest::newRow("an index off the board") << "off" << "tile_off_the_board";
        QTest::newRow("not the name's best") << "unsubmitted" << "no_such_best";
    }

    void tamperedReplaysAreRefused()
    {
        QFETCH(QString, tamper);
        QFETCH(QString, reason);
        start();
        GameReplay game = playedReplay();
        qint64 whole = wholeScore(game);
        QCOMPARE(get(m_port, target(whole, 0, 0, 0, "Tamperer")).status, 200);
        if (tamper == QLatin1String("change"))
            game.clicks[7] = 9;
        else if (tamper == QLatin1String("cycles"))
            game.clockCycles = 400, game.clickCycles.clear();
        else if (tamper == QLatin1String("last past"))
            game.clickCycles.back() = game.clockCycles + 1;
        else if (tamper == QLatin1String("decrease"))
            game.clickCycles[12] = game.clickCycles[11] - 1;
        else if (tamper == QLatin1String("short"))
            game.clickCycles.pop_back();
        else if (tamper == QLatin1String("fifth"))
            game.clicks.push_back(0);
        else if (tamper == QLatin1String("off"))
            game.clicks[3] = 16;
        else if (tamper == QLatin1String("unsubmitted"))
            game = playedReplay(6), whole = wholeScore(game);
        const QString answer = submitReplays(QStringLiteral("Tamperer"), {{whole, game}});
        QVERIFY2(answer.contains(QStringLiteral("Not verified: 4 x 4.")) && !answer.contains(QStringLiteral(" Verified")),
                 qPrintable(answer));
        QVERIFY(pageRow(QStringLiteral("Tamperer")).startsWith(QStringLiteral("<li class=\"row\"><span")));
        // Nor is the world record it holds, nor any other row of the records table.
        const QString page = QString::fromUtf8(get(m_port, "/zimble1.asp").body);
        const qsizetype records = page.indexOf(QStringLiteral("<ol class=\"list records\">"));
        const QString table = page.mid(records, page.indexOf(QStringLiteral("</ol>"), records) - records);
        QVERIFY(table.contains(QStringLiteral(">Tamperer</a>")));
        QVERIFY2(!table.contains(QStringLiteral("data-verified")) && !table.contains(QStringLiteral("class=\"mark\"")), qPrintable(table));
        const QByteArray metrics = get(m_port, "/metrics").body;
        QVERIFY2(metrics.contains("zimble_replays_total{outcome=\"" + reason.toLatin1() + "\"} 1"), metrics.constData());
        // The replay is kept with the submission, verdict and all.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(m_db);
        QVERIFY(db.open());
        {
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT verified, reason FROM replays")) && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
            QCOMPARE(q.value(1).toString().replace(QLatin1Char(' '), QLatin1Char('_')), reason);
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    }

    void verifiedOnlyCountsVerifiedGames()
    {
        start(true);
        const GameReplay game = playedReplay();
        const qint64 whole = wholeScore(game);
        // A bare submission, however high, sets no record and is not congratulated.
        QCOMPARE(get(m_port, target(999999, 0, 0, 0, "Forger")).fields().value(9), QStringLiteral("Thank you! Your scores have been recorded."));
        QStringList f = get(m_port, target(whole, 0, 0, 0, "Honest")).fields();
        // Nothing verified yet: no record, no ranks, and the forger is nowhere.
        QCOMPARE(f.mid(1, 1), QStringList{QStringLiteral("0")});
        QCOMPARE(f[9], QStringLiteral("Thank you! Your scores have been recorded."));
        QCOMPARE(submitReplays(QStringLiteral("Honest"), {{whole, game}}),
                 QStringLiteral("Congratulations! World record on 4 x 4. Verified: 4 x 4. Your ranks: 4 x 4 1st of 1."));
        f = get(m_port, target(0, 0, 0, 0, "Peek")).fields();
        QCOMPARE(f.mid(1, 1), QStringList{QString::number(whole)});
        QCOMPARE(f[5], QStringLiteral("Honest"));
        QVERIFY(pageRow(QStringLiteral("Forger")).isEmpty());
        QVERIFY(pageRow(QStringLiteral("Honest")).startsWith(QStringLiteral("<li class=\"row\" data-verified=\"yes\">")));
        QVERIFY(get(m_port, "/zimble1.asp").body.contains("Only verified games count here"));
        // A refused replay of the same submission is stored, but the history counted here shows
        // the verified game only.
        GameReplay forged = game;
        forged.clicks[7] = 9;
        QVERIFY(submitReplays(QStringLiteral("Honest"), {{whole, forged}}).contains(QStringLiteral("Not verified: 4 x 4.")));
        const QJsonArray history = QJsonDocument::fromJson(get(m_port, "/api/v1/players/Honest").body)["players"][0]["boards"][0]["history"].toArray();
        QCOMPARE(history.size(), 1);
        QCOMPARE(history[0]["zq"].toInteger(), whole);
        // A second verified player ranks below.
        const GameReplay shorter = playedReplay(3);
        QCOMPARE(get(m_port, target(wholeScore(shorter), 0, 0, 0, "Second")).status, 200);
        QCOMPARE(submitReplays(QStringLiteral("Second"), {{wholeScore(shorter), shorter}}),
                 QStringLiteral("Verified: 4 x 4. Your ranks: 4 x 4 2nd of 2."));
    }

    void equalVerifiedScoresGoToTheEarlierSubmission()
    {
        start(true);
        const GameReplay game = playedReplay();
        const qint64 whole = wholeScore(game);
        QCOMPARE(get(m_port, target(whole, 0, 0, 0, "Early")).status, 200);
        QCOMPARE(get(m_port, target(whole, 0, 0, 0, "Late")).status, 200);
        // Late's replay is checked first; Early's equal one, submitted first, still takes the record.
        QVERIFY(submitReplays(QStringLiteral("Late"), {{whole, game}}).contains(QStringLiteral("Verified: 4 x 4.")));
        QCOMPARE(submitReplays(QStringLiteral("Early"), {{whole, game}}),
                 QStringLiteral("Congratulations! World record on 4 x 4. Verified: 4 x 4. Your ranks: 4 x 4 1st of 2."));
        QCOMPARE(get(m_port, target(0, 0, 0, 0, "Peek")).fields()[5], QStringLiteral("Early"));
        // Sent again with the next Update, the same verified game stores nothing new.
        QVERIFY(submitReplays(QStringLiteral("Early"), {{whole, game}}).contains(QStringLiteral("Verified: 4 x 4.")));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(m_db);
        QVERIFY(db.open());
        {
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM replays")) && q.next());
            QCOMPARE(q.value(0).toInt(), 2);
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("count"));
    }

    void removedNameLosesItsVerifiedRecord()
    {
        start(true);
        const GameReplay game = playedReplay();
        const qint64 whole = wholeScore(game);
        QCOMPARE(get(m_port, target(whole, 0, 0, 0, "Bad")).status, 200);
        QVERIFY(submitReplays(QStringLiteral("Bad"), {{whole, game}}).startsWith(QStringLiteral("Congratulations!")));
        {
            ScoreStore moderator(m_db);
            QVERIFY(moderator.isOpen());
            int removed = 0;
            WorldRecords before, after;
            QVERIFY(moderator.removeName(QStringLiteral("Bad"), &removed, &before, &after));
            QCOMPARE(removed, 1);
        }
        // Straight after the removal, before the service has noticed it, the replay finds no
        // submission to back and cannot bring the record back.
        QVERIFY(submitReplays(QStringLiteral("Bad"), {{whole, game}}).contains(QStringLiteral("Not verified: 4 x 4.")));
        QTRY_COMPARE_WITH_TIMEOUT(get(m_port, target(0, 0, 0, 0, "Peek")).fields().mid(1, 1), QStringList{QStringLiteral("0")},
                                  5000);
        QCOMPARE(get(m_port, target(0, 0, 0, 0, "Peek")).fields()[5], QString());
        QTRY_VERIFY_WITH_TIMEOUT(pageRow(QStringLiteral("Bad")).isEmpty(), 5000);
    }

    // A game's replay in the API and on its page. The database holds one replay (id 1) of a
    // game played to its end (7 x 7 unless `target` names a board after "@N"), stored as the
    // service stores a submitted one; "@old" keeps it without the clock at each click, "@forged"
    // sends it for a ZQ it does not give, "@etag" asks twice, the second time with the first
    // answer's ETag, "@marks" follows the verified marks of the records and player pages,
    // "@burst" asks for as many other replays as the player-page limit allows first (each read
    // from the database), then for this one, then for the first of them again (cached).
    void replayAnswers_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("summary");
        QTest::newRow("a whole 7 x 7 game, click by click") << QByteArray("/api/v1/replays/1") << 200
                                                            << QStringLiteral("verified, as played, 196 clicks");
        QTest::newRow("a whole 4 x 4 game") << QByteArray("@4 /api/v1/replays/1") << 200 << QStringLiteral("verified, as played, 64 clicks");
        QTest::newRow("kept without clocks: even pace") << QByteArray("@old /api/v1/replays/1") << 200
                                                         << QStringLiteral("verified, even, 196 clicks");
        QTest::newRow("a ZQ it does not give") << QByteArray("@forged /api/v1/replays/1") << 200
                                               << QStringLiteral("score mismatch, as played, 196 clicks");
        QTest::newRow("unknown id") << QByteArray("/api/v1/replays/2") << 404 << QString();
        QTest::newRow("id 0") << QByteArray("/api/v1/replays/0") << 400 << QString();
        QTest::newRow("id with a letter") << QByteArray("/api/v1/replays/1x") << 400 << QString();
        QTest::newRow("id with a plus sign") << QByteArray("/api/v1/replays/+1") << 400 << QString();
        QTest::newRow("no id") << QByteArray("/api/v1/replays/") << 400 << QString();
        QTest::newRow("not modified") << QByteArray("@etag /api/v1/replays/1") << 304 << QString();
        QTest::newRow("replays read past the limit") << QByteArray("@burst /api/v1/replays/1") << 429 << QStringLiteral("cached 404");
        QTest::newRow("page: every click listed") << QByteArray("/replay?id=1") << 200 << QStringLiteral("196 rows, as played");
        QTest::newRow("page: even pace said") << QByteArray("@old /replay?id=1") << 200 << QStringLiteral("196 rows, even");
        QTest::newRow("page not modified") << QByteArray("@etag /replay?id=1") << 304 << QString();
        QTest::newRow("page of a game not verified") << QByteArray("@forged /replay?id=1") << 404 << QString();
        QTest::newRow("page of an unknown game") << QByteArray("/replay?id=2") << 404 << QString();
        QTest::newRow("page without a number") << QByteArray("/replay?id=") << 400 << QString();
        QTest::newRow("marks link the replay") << QByteArray("@marks /zimble1.asp") << 200 << QStringLiteral("records 3, player 2");
    }

    void replayAnswers()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QString, summary);
        const QByteArray mode = target.startsWith('@') ? target.left(target.indexOf(' ')) : QByteArray();
        const QByteArray path = target.mid(mode.isEmpty() ? 0 : mode.size() + 1);
        std::vector<FixedPoint> shown;
        GameReplay game = wholeGame(mode == "@4" ? 4 : 7, &shown);
        if (mode == "@old")
            game.clickCycles.clear();
        const qint64 whole = wholeScore(game) + (mode == "@forged" ? 1 : 0);
        const QString db = m_dir.filePath(QStringLiteral("answers%1.sqlite").arg(++m_dbIndex));
        {
            ScoreStore store(db);
            std::array<qint64, BoardSizeCount> scores{};
            scores[std::size_t(game.boardSize - MinBoardSize)] = whole;
            QVERIFY(store.submitBatch({Submission{scores, QStringLiteral("Ann"), QStringLiteral("127.0.0.1")}}, nullptr, nullptr));
            QList<ReplayResult> results;
            QVERIFY(store.storeReplays({QStringLiteral("Ann"), {{whole, game}}}, QStringLiteral("127.0.0.1"), &results));
        }
        start(false, db, mode == "@burst" ? 10 : 0);
        if (mode == "@burst") {
            for (int id = 2; id < 2 + ScoreService::PlayerPagesPerMinute; ++id)
                QCOMPARE(get(m_port, "/api/v1/replays/" + QByteArray::number(id)).status, 404);
        }
        Reply r = get(m_port, path);
        if (mode == "@etag") {
            QVERIFY(!r.etag.isEmpty());
            r = get(m_port, path, r.etag);
        }
        QCOMPARE(r.status, status);
        if (mode == "@burst") {
            QCOMPARE(QStringLiteral("cached %1").arg(get(m_port, "/api/v1/replays/2").status), summary);
            return;
        }
        if (mode == "@marks") {
            // Each verified mark is a link to the game's replay, keeping its title.
            const QString link = QStringLiteral("<a class=\"mark\" href=\"/replay?id=1\" title=\"Verified:");
            const int records = QString::fromUtf8(r.body).count(link); // the record, the ten best of all time and this week
            const int player = QString::fromUtf8(get(m_port, "/zimble1.asp?name=Ann").body).count(link); // the best, the place
            QCOMPARE(QStringLiteral("records %1, player %2").arg(records).arg(player), summary);
            const QJsonObject board = QJsonDocument::fromJson(get(m_port, "/api/v1/records?board=7").body)["boards"][0].toObject();
            QCOMPARE(board["records"][0]["replay"].toInteger(), 1);
            const QJsonObject mine = QJsonDocument::fromJson(get(m_port, "/api/v1/players/Ann").body)["players"][0].toObject();
            QCOMPARE(mine["boards"][0]["replay"].toInteger(), 1);
            return;
        }
        if (status != 200)
            return;
        const std::vector<FixedPoint> scores = scoresAfterEachClick(game);
        if (path.startsWith("/replay")) {
            // Every click as a row of the plain list, with the ZQ the game showed after it; the
            // last one is the record's. Script from the service only, and no style attributes.
            const QString page = QString::fromUtf8(r.body);
            static const QRegularExpression row(QStringLiteral("<li class=\"row\" id=\"click(\\d+)\" data-tile=\"(\\d+)\" "
                                                               "data-cycles=\"(\\d+)\" data-zq=\"([0-9.]+)\">"));
            int rows = 0;
            for (auto it = row.globalMatch(page); it.hasNext(); ++rows) {
                const auto m = it.next();
                const std::size_t k = std::size_t(rows);
                QCOMPARE(m.captured(1).toInt(), rows + 1);
                QCOMPARE(m.captured(2).toInt(), game.clicks[k]);
                QCOMPARE(m.captured(3).toInt(), game.cyclesAtClick(k));
                QCOMPARE(m.captured(4), QString::number(shown[k].toDouble(), 'f', 4));
            }
            QVERIFY(page.contains(QStringLiteral("made a whole number %1: the ZQ on the records").arg(whole)));
            QVERIFY(page.contains(QStringLiteral("<script src=\"/replay.js?v=")) && !page.contains(QStringLiteral(" style=")));
            QVERIFY2(r.policy.contains("script-src 'self'") && r.policy.contains("img-src 'self'"), r.policy.constData());
            const bool even = page.contains(QStringLiteral("shown at an even pace"));
            QCOMPARE(QStringLiteral("%1 rows, %2").arg(rows).arg(even ? "even" : "as played"), summary);
            const Reply script = get(m_port, "/replay.js");
            QVERIFY(script.status == 200 && script.type.startsWith("text/javascript") && script.body.contains("click="));
            const Reply picture = get(m_port, "/pictures/tessa3.jpg");
            QVERIFY(picture.status == 200 && picture.type == "image/jpeg" && picture.body.startsWith("\xff\xd8"));
            return;
        }
        // The ZQ after each click is the one the game showed, the clock at each click as played
        // (or spread evenly), and the last ZQ gives the submission's.
        const QJsonObject json = QJsonDocument::fromJson(r.body).object();
        const QJsonArray clicks = json["clicks"].toArray();
        QCOMPARE(std::size_t(clicks.size()), game.clicks.size());
        for (qsizetype k = 0; k < clicks.size(); ++k) {
            const QJsonObject c = clicks[k].toObject();
            QCOMPARE(c["tile"].toInt(), game.clicks[std::size_t(k)]);
            QCOMPARE(c["row"].toInt() * 100 + c["column"].toInt(),
                     (game.clicks[std::size_t(k)] / game.boardSize + 1) * 100 + game.clicks[std::size_t(k)] % game.boardSize + 1);
            QCOMPARE(c["cycles"].toInt(), game.cyclesAtClick(std::size_t(k)));
            QCOMPARE(c["zq"].toDouble(), shown[std::size_t(k)].toDouble());
            QCOMPARE(c["zq"].toDouble(), scores[std::size_t(k)].toDouble());
        }
        QCOMPARE(toInt32HalfEven(json["zq"].toDouble()), wholeScore(game));
        QCOMPARE(json["submission"]["zq"].toInteger(), whole);
        QCOMPARE(json["submission"]["name"].toString(), QStringLiteral("Ann"));
        const QString verdict = json["verified"].toBool() ? QStringLiteral("verified") : json["reason"].toString();
        QCOMPARE(QStringLiteral("%1, %2, %3 clicks").arg(verdict, json["pace"].toString()).arg(clicks.size()), summary);
    }

    void weekStartsOnMonday_data()
    {
        QTest::addColumn<QDateTime>("at");
        QTest::addColumn<QDateTime>("start");
        const QDateTime monday(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        QTest::newRow("Monday midnight") << monday << monday;
        QTest::newRow("a millisecond before") << monday.addMSecs(-1) << monday.addDays(-7);
        QTest::newRow("Sunday night") << QDateTime(QDate(2026, 12, 13), QTime(23, 59, 59), Qt::UTC) << monday;
        QTest::newRow("another time zone") << QDateTime(QDate(2026, 12, 7), QTime(0, 30), QTimeZone(3600)) << monday.addDays(-7);
    }

    void weekStartsOnMonday()
    {
        QFETCH(QDateTime, at);
        QFETCH(QDateTime, start);
        QCOMPARE(weekStart(at), start);
    }

    void thisWeeksTenBestLeaveLastWeekOut()
    {
        start();
        QCOMPARE(get(m_port, target(500, 0, 0, 0, "LastWeek")).status, 200);
        QCOMPARE(get(m_port, target(300, 0, 0, 0, "ThisWeek")).status, 200);
        m_service.reset();
        // Move the first submission to just before this week began.
        const QString before = weekStart(QDateTime::currentDateTimeUtc()).addMSecs(-1).toString(Qt::ISODateWithMs);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("age"));
            db.setDatabaseName(m_db);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("UPDATE submissions SET submitted_at = '%1' WHERE name = 'LastWeek'").arg(before)));
            QVERIFY(q.exec(QStringLiteral("UPDATE bests SET set_at = '%1' WHERE name = 'LastWeek'").arg(before)));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("age"));
        start(false, m_db);
        // An old best sent again with this week's Update is not one of this week's.
        QCOMPARE(get(m_port, target(500, 0, 0, 0, "LastWeek")).status, 200);
        const QString page = QString::fromUtf8(get(m_port, "/zimble1.asp").body);
        const qsizetype section = page.indexOf(QStringLiteral("<section class=\"board\"><h2>4 &times;"));
        const qsizetype week = page.indexOf(QStringLiteral("<h3>This week</h3>"), section);
        const qsizetype end = page.indexOf(QStringLiteral("</section>"), week);
        const QString allTime = page.mid(section, week - section);
        const QString thisWeek = page.mid(week, end - week);
        QVERIFY(allTime.contains(QStringLiteral("LastWeek")) && allTime.contains(QStringLiteral("ThisWeek")));
        QVERIFY(!thisWeek.contains(QStringLiteral("LastWeek")));
        QVERIFY(thisWeek.contains(QStringLiteral("ThisWeek")));
    }

    void playerPagesAreLimitedPerAddress()
    {
        m_service.reset();
        m_service = std::make_unique<ScoreService>(ScoreService::Options(m_dir.filePath(QStringLiteral("limit.sqlite")), 1, false));
        m_port = m_service->listenOn(QHostAddress::LocalHost, 0);
        for (int i = 0; i < ScoreService::PlayerPagesPerMinute; ++i)
            QCOMPARE(get(m_port, "/zimble1.asp?name=Ann").status, 200);
        QCOMPARE(get(m_port, "/zimble1.asp?name=Ann").status, 429);
        QCOMPARE(get(m_port, "/zimble1.asp").status, 200); // the cached page is not limited
    }

    void malformedReplayRequests()
    {
        start();
        for (const QByteArray& t : {QByteArray("/zr.asp?Ann&4.1.0"), QByteArray("/zr.asp?Ann&9.1.0.A"),
                                    QByteArray("/zr.asp?Ann&4.1.0.A%21"), QByteArray("/zr.asp?Ann&4.1.0.A&4.1.0.A")}) {
            const Reply r = get(m_port, t);
            QCOMPARE(r.status, 200);
            QVERIFY2(r.body.startsWith("Your replays were not checked"), r.body.constData());
        }
        // No replays at all: just the ranks.
        QCOMPARE(get(m_port, target(10, 0, 0, 0, "Ann")).status, 200);
        QCOMPARE(get(m_port, "/zr.asp?Ann").body, QByteArray("Congratulations! World record on 4 x 4. Your ranks: 4 x 4 1st of 1."));

        // The longest request a game sends: every board played to its end, slowly (a two-digit
        // clock step before every click), under a long name of three-byte characters.
        std::vector<SubmittedReplay> full;
        for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
            GameState g;
            g.setBoardSize(board);
            for (int tile = 0; tile < board * board; ++tile) {
                for (int k = 0; k < HitsToRemoveTile; ++k) {
                    for (int c = 0; c < 12; ++c)
                        g.addClockCycle();
                    g.addHit(tile);
                    g.recordClick(tile);
                    g.finishClick();
                }
            }
            full.push_back({wholeScore(g.replay()), g.replay()});
        }
        const QByteArray longName = QString(50, QChar(0x8a9e)).toUtf8().toPercentEncoding();
        const QByteArray longest = replayTarget(QString::fromLatin1(longName), full);
        QVERIFY2(longest.size() <= RequestLimits::MaxTargetLength, QByteArray::number(longest.size()).constData());
        const Reply answer = get(m_port, longest);
        QCOMPARE(answer.status, 200);
        QVERIFY2(!answer.body.startsWith("Your replays were not checked"), answer.body.constData());
    }
};

QTEST_MAIN(TestReplays)
#include "test_replays.moc"
