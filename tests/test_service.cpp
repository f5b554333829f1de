// The score service: protocol, refusals, hostile input, records, persistence, limits, the page,
// two instances on one database, and a clean stop.

#include "server/protocol.h"
#include "server/scoreservice.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <QCryptographicHash>

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <csignal>
#include <sys/socket.h>

using namespace zimble;
using namespace zimble::server;

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QByteArray type;
    QStringList fields() const { return QString::fromLatin1(body).split(QLatin1Char('|')); }
};

Reply get(quint16 port, const QByteArray& target)
{
    static QNetworkAccessManager nam;
    QNetworkRequest req(QUrl::fromEncoded("http://127.0.0.1:" + QByteArray::number(port) + target, QUrl::StrictMode));
    QNetworkReply* r = nam.get(req);
    QSignalSpy done(r, &QNetworkReply::finished);
    if (!r->isFinished())
        done.wait(10000);
    Reply out;
    out.status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = r->readAll();
    out.type = r->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    r->deleteLater();
    return out;
}

QByteArray target(qint64 a, qint64 b, qint64 c, qint64 d, const QByteArray& name)
{
    const qint64 check = 2 * a + 3 * b + 5 * c + 4 * d;
    return "/zm2.asp?" + QByteArray::number(a) + '&' + QByteArray::number(b) + '&' + QByteArray::number(c) + '&'
        + QByteArray::number(d) + '&' + name + '&' + QByteArray::number(check);
}

// Sends raw bytes on one connection (optionally half-closing it after them) and collects what
// comes back until `enough` says so, the service closes, or the time is up. The service runs on
// this thread, so the event loop turns while waiting.
struct RawResult {
    QByteArray data;
    bool closed = false;
    int replies() const { return int(data.count("HTTP/1.1 ")); }
};

RawResult raw(quint16 port, const QByteArray& bytes, const std::function<bool(const QByteArray&)>& enough = {},
              int timeoutMs = 5000, bool halfClose = false)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    RawResult out;
    QDeadlineTimer deadline(timeoutMs);
    while (s.state() != QAbstractSocket::ConnectedState && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    s.write(bytes);
    s.flush();
    if (halfClose)
        ::shutdown(int(s.socketDescriptor()), SHUT_WR);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        out.data += s.readAll();
        if (s.state() == QAbstractSocket::UnconnectedState) {
            out.data += s.readAll();
            out.closed = true;
            break;
        }
        if (enough && enough(out.data))
            break;
    }
    return out;
}

// The complete replies in what a connection received (bodies left out after HEAD).
struct RawReply {
    int status = 0;
    QByteArray head;
    QByteArray body;
};
QList<RawReply> parseReplies(const QByteArray& d, bool head = false)
{
    QList<RawReply> out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype end = d.indexOf("\r\n\r\n", pos);
        if (end < 0)
            break;
        RawReply r;
        r.head = d.mid(pos, end - pos);
        r.status = r.head.mid(9, 3).toInt();
        static const QRegularExpression length(QStringLiteral("\r\nContent-Length: (\\d+)"), QRegularExpression::CaseInsensitiveOption);
        const auto m = length.match(QString::fromLatin1(r.head));
        const qsizetype n = head || r.status == 304 || !m.hasMatch() ? 0 : m.captured(1).toLongLong();
        if (end + 4 + n > d.size())
            break;
        r.body = d.mid(end + 4, n);
        out.append(r);
        pos = end + 4 + n;
    }
    return out;
}

std::function<bool(const QByteArray&)> replies(int n, bool head = false)
{
    return [n, head](const QByteArray& d) { return parseReplies(d, head).size() >= n; };
}

// Rows of one board's top ten on the page: (name, score).
QList<std::pair<QString, qint64>> topTen(const QByteArray& page, int board)
{
    const QString html = QString::fromUtf8(page);
    const qsizetype from = html.indexOf(QStringLiteral("<section class=\"board\"><h2>%1 &times;").arg(board));
    const QString section = html.mid(from, html.indexOf(QStringLiteral("</section>"), from) - from);
    static const QRegularExpression row(QStringLiteral("<tr><td>\\d+</td><td>(.*?)</td><td class=\"zq\">(\\d+)</td>"));
    QList<std::pair<QString, qint64>> out;
    for (auto it = row.globalMatch(section); it.hasNext();) {
        const auto m = it.next();
        out.append({m.captured(1), m.captured(2).toLongLong()});
    }
    return out;
}

// Starts the service program on a free port and returns the port (0 when it did not come up).
quint16 startProgram(QProcess& p, const QStringList& args)
{
    p.start(QStringLiteral(ZIMBLE_BINARY_DIR "/server/zimble-scored"), QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + args);
    if (!p.waitForStarted())
        return 0;
    static const QRegularExpression serving(QStringLiteral("serving on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray err;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && p.state() == QProcess::Running) {
        p.waitForReadyRead(100);
        err += p.readAllStandardError();
        const auto m = serving.match(QString::fromLatin1(err));
        if (m.hasMatch())
            return quint16(m.captured(1).toUInt());
    }
    err += p.readAllStandardError();
    qWarning("zimble-scored did not start: %s", err.constData());
    return 0;
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ScoreService> m_service;
    quint16 m_port = 0;
    int m_dbIndex = 0;

    void startService(int rateLimit = 0, const QString& db = {})
    {
        m_service.reset();
        const QString file = db.isEmpty() ? m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++m_dbIndex)) : db;
        m_service = std::make_unique<ScoreService>(ScoreService::Options{file, rateLimit, false});
        QVERIFY2(m_service->isReady(), qPrintable(m_service->storeError()));
        m_port = m_service->listenOn(QHostAddress::LocalHost, 0);
        QVERIFY(m_port != 0);
    }

    int submissionsOnPage()
    {
        return int(get(m_port, "/zimble1.asp").body.count("<tr><td>") - 4); // less the four record rows
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void namesAreCleaned()
    {
        QCOMPARE(cleanPlayerName(QStringLiteral("  Ann  ")), QStringLiteral("Ann"));
        QCOMPARE(cleanPlayerName(QStringLiteral("A|B")), QStringLiteral("A B"));
        QCOMPARE(cleanPlayerName(QString::fromUtf8("x\x01y\ny\x7f\u0085z")), QStringLiteral("x y y  z"));
        QCOMPARE(cleanPlayerName(QString()), QStringLiteral("Anonymous"));
        QCOMPARE(cleanPlayerName(QStringLiteral(" \t ")), QStringLiteral("Anonymous"));
        QCOMPARE(cleanPlayerName(QString(60, QLatin1Char('q'))).size(), 50);
        // 50 characters, not 50 UTF-16 units.
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
        QCOMPARE(cleanPlayerName(smile.repeated(60)).toUcs4().size(), 50);
    }

    void submissionsAreChecked_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("valid");
        QTest::newRow("example") << QByteArray("120&340&0&16&Ann&1324") << true;
        QTest::newRow("empty name") << QByteArray("0&0&0&0&&0") << true;
        QTest::newRow("encoded digits") << QByteArray("%31&0&0&0&x&2") << true;
        QTest::newRow("largest") << QByteArray("2147483647&0&0&0&x&4294967294") << true;
        QTest::newRow("five values") << QByteArray("1&2&3&4&5") << false;
        QTest::newRow("seven values") << QByteArray("0&0&0&0&a&0&0") << false;
        QTest::newRow("ampersand in name") << QByteArray("0&0&0&0&a%26b&0") << true;
        QTest::newRow("raw ampersand in name") << QByteArray("0&0&0&0&a&b&0") << false;
        QTest::newRow("negative") << QByteArray("-1&0&0&0&x&-2") << false;
        QTest::newRow("too large") << QByteArray("2147483648&0&0&0&x&4294967296") << false;
        QTest::newRow("fraction") << QByteArray("1.5&0&0&0&x&3") << false;
        QTest::newRow("blank score") << QByteArray("&0&0&0&x&0") << false;
        QTest::newRow("plus sign") << QByteArray("+1&0&0&0&x&2") << false;
        QTest::newRow("wrong check") << QByteArray("120&340&0&16&Ann&1325") << false;
        QTest::newRow("check not a number") << QByteArray("0&0&0&0&x&zero") << false;
        QTest::newRow("empty query") << QByteArray("") << false;
    }

    void submissionsAreChecked()
    {
        QFETCH(QByteArray, query);
        QFETCH(bool, valid);
        QString refusal;
        const auto s = parseSubmission(query, &refusal);
        QCOMPARE(s.has_value(), valid);
        QCOMPARE(refusal.isEmpty(), valid);
    }

    void replyFormat()
    {
        WorldRecords r;
        r[0] = {980, QStringLiteral("Bo Kim"), {}};
        r[3] = {3305, QString::fromUtf8("J\u00F6rg \u0416|x"), {}};
        const QByteArray body = formatReply(r, QStringLiteral("Thank you | more"));
        QCOMPARE(body, QByteArray("Zimble World Scores|980|0|0|3305|Bo%20Kim|||J\xF6rg%20?%20x|Thank you   more"));
        QCOMPARE(thanksMessage(QStringLiteral("Ann"), {5}),
                 QStringLiteral("Congratulations, Ann! You set the new world record for the 5 x 5 board."));
        QCOMPARE(thanksMessage(QStringLiteral("Ann"), {}), QStringLiteral("Thank you, Ann. Your scores have been recorded."));
    }

    void recordsGoToStrictlyHigherScores()
    {
        startService();
        Reply r = get(m_port, target(120, 340, 0, 16, "Ann"));
        QCOMPARE(r.status, 200);
        QCOMPARE(r.type, QByteArray("text/plain; charset=windows-1252"));
        QStringList f = r.fields();
        QCOMPARE(f.size(), 10);
        QCOMPARE(f.mid(1, 8), (QStringList{"120", "340", "0", "16", "Ann", "Ann", "", "Ann"}));
        QVERIFY(f[9].contains(QStringLiteral("4 x 4, 5 x 5 and 7 x 7")));

        // A tie keeps the earlier holder; a higher score takes the record.
        f = get(m_port, target(120, 341, 0, 0, "Bo%20Kim")).fields();
        QCOMPARE(f.mid(1, 8), (QStringList{"120", "341", "0", "16", "Ann", "Bo%20Kim", "", "Ann"}));
        QVERIFY(f[9].contains(QStringLiteral("5 x 5 board.")));
        f = get(m_port, target(1, 1, 0, 1, "Cy")).fields();
        QCOMPARE(f[9], QStringLiteral("Thank you, Cy. Your scores have been recorded."));
        // Ranked rows on the page: boards 4 and 5 have three scores above 0 each, board 6 none, board 7 two.
        QCOMPARE(submissionsOnPage(), 8);
    }

    void refusedSubmissionsChangeNothing()
    {
        startService();
        get(m_port, target(50, 0, 0, 0, "First"));
        const QByteArray page = get(m_port, "/zimble1.asp").body;
        for (const QByteArray& t : {QByteArray("/zm2.asp?1&2&3"), QByteArray("/zm2.asp?999&0&0&0&Cheat&1"),
                                    QByteArray("/zm2.asp?-5&0&0&0&x&-10"), QByteArray("/zm2.asp"),
                                    QByteArray("/zm2.asp?99999999999&0&0&0&x&199999999998")}) {
            const Reply r = get(m_port, t);
            QCOMPARE(r.status, 200);
            const QStringList f = r.fields();
            QCOMPARE(f.size(), 10);
            QCOMPARE(f[1], QStringLiteral("50"));
            QVERIFY2(f[9].startsWith(QStringLiteral("Your scores were not recorded")), qPrintable(f[9]));
        }
        QCOMPARE(get(m_port, "/zimble1.asp").body, page);
    }

    void hostileNames()
    {
        startService();
        QStringList f = get(m_port, target(10, 0, 0, 0, "%3Cscript%3Ealert(1)%3C/script%3E")).fields();
        QCOMPARE(f[5], QStringLiteral("<script>alert(1)</script>"));
        const QByteArray page = get(m_port, "/zimble1.asp").body;
        QVERIFY(!page.contains("<script>"));
        QVERIFY(page.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
        QVERIFY(!page.contains("&amp;lt;"));

        f = get(m_port, target(20, 0, 0, 0, "a%7Cb%00c%0Ad")).fields();
        QCOMPARE(f.size(), 10);
        QCOMPARE(f[5], QStringLiteral("a%20b%20c%20d"));

        const QByteArray sql = "Robert'%29%3B%20DROP%20TABLE%20submissions%3B--";
        f = get(m_port, target(30, 0, 0, 0, sql)).fields();
        QCOMPARE(f[5], QStringLiteral("Robert');%20DROP%20TABLE%20submissions;--"));
        QVERIFY(get(m_port, "/zimble1.asp").body.contains("Robert&#x27;); DROP TABLE submissions;--")
                || get(m_port, "/zimble1.asp").body.contains("Robert'); DROP TABLE submissions;--"));

        // Outside Windows-1252: "?" in the reply, whole on the page.
        f = get(m_port, target(40, 0, 0, 0, "%D0%96%D0%B0%D0%BD%D0%BD%D0%B0")).fields();
        QCOMPARE(f[5], QStringLiteral("?????"));
        QVERIFY(QString::fromUtf8(get(m_port, "/zimble1.asp").body).contains(QString::fromUtf8("\u0416\u0430\u043D\u043D\u0430")));

        // An empty name is Anonymous; a long one is cut to 50 characters.
        QCOMPARE(get(m_port, target(50, 0, 0, 0, "%20%20")).fields()[5], QStringLiteral("Anonymous"));
        QCOMPARE(get(m_port, target(60, 0, 0, 0, QByteArray(300, 'L'))).fields()[5], QString(50, QLatin1Char('L')));

        // A 10 KB name makes the request too long: refused, nothing stored.
        const Reply big = get(m_port, target(70, 0, 0, 0, QByteArray(10240, 'x')));
        QCOMPARE(big.status, 414);
        QCOMPARE(get(m_port, target(0, 0, 0, 0, "peek")).fields()[1], QStringLiteral("60"));
    }

    void otherRequests()
    {
        startService();
        QCOMPARE(get(m_port, "/health").body.size(), 60);
        QCOMPARE(get(m_port, "/nothing-here").status, 404);
        const Reply page = get(m_port, "/zimble1.asp");
        QCOMPARE(page.status, 200);
        QCOMPARE(page.type, QByteArray("text/html; charset=utf-8"));

        // Not GET.
        QTcpSocket post;
        post.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_COMPARE_WITH_TIMEOUT(post.state(), QAbstractSocket::ConnectedState, 5000);
        post.write("POST /zm2.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
        // The service runs on this thread: let the event loop turn while waiting.
        QTRY_VERIFY_WITH_TIMEOUT(post.bytesAvailable() > 0, 5000);
        QVERIFY(post.readAll().startsWith("HTTP/1.1 405"));

        // A flood of header bytes closes the connection; the service goes on serving.
        QTcpSocket flood;
        flood.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QAbstractSocket::ConnectedState, 5000);
        flood.write("GET /zimble1.asp HTTP/1.1\r\nHost: x\r\n");
        for (int i = 0; i < 40 && flood.state() == QAbstractSocket::ConnectedState; ++i) {
            flood.write("X-Filler: " + QByteArray(1000, 'f') + "\r\n");
            QTest::qWait(5);
        }
        QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(get(m_port, "/health").status, 200);
    }

    void rateLimitRefusesPastTheLimit()
    {
        qint64 now = 0;
        RateLimiter limiter(2, [&] { return now; });
        QVERIFY(limiter.allow(QStringLiteral("a")));
        QVERIFY(limiter.allow(QStringLiteral("a")));
        QVERIFY(!limiter.allow(QStringLiteral("a")));
        QVERIFY(limiter.allow(QStringLiteral("b")));
        // Each event counts for exactly 60 seconds.
        now = 59999;
        QVERIFY(!limiter.allow(QStringLiteral("a")));
        now = 60000;
        QVERIFY(limiter.allow(QStringLiteral("a")));
        QVERIFY(limiter.allow(QStringLiteral("a")));
        QVERIFY(!limiter.allow(QStringLiteral("a")));
        RateLimiter none(0);
        for (int i = 0; i < 100; ++i)
            QVERIFY(none.allow(QStringLiteral("a")));

        startService(2);
        QVERIFY(get(m_port, target(1, 0, 0, 0, "a")).fields()[9].startsWith(QStringLiteral("Congratulations")));
        get(m_port, "/zm2.asp?bad"); // refused requests do not count
        QVERIFY(get(m_port, target(2, 0, 0, 0, "a")).fields()[9].startsWith(QStringLiteral("Congratulations")));
        const QStringList f = get(m_port, target(3, 0, 0, 0, "a")).fields();
        QVERIFY(f[9].contains(QStringLiteral("too many submissions")));
        QCOMPARE(f[1], QStringLiteral("2"));
    }

    void recordsSurviveARestart()
    {
        const QString db = m_dir.filePath(QStringLiteral("restart.sqlite"));
        startService(0, db);
        get(m_port, target(77, 88, 99, 111, "Keeper"));
        m_service.reset();
        startService(0, db);
        const QStringList f = get(m_port, target(0, 0, 0, 0, "Peek")).fields();
        QCOMPARE(f.mid(1, 8), (QStringList{"77", "88", "99", "111", "Keeper", "Keeper", "Keeper", "Keeper"}));
    }

    void instancesStartTogether()
    {
        // Three at once on a fresh file, three times: every one comes up.
        for (int round = 0; round < 3; ++round) {
            const QString db = m_dir.filePath(QStringLiteral("together%1.sqlite").arg(round));
            QProcess p[3];
            for (QProcess& proc : p)
                proc.start(QStringLiteral(ZIMBLE_BINARY_DIR "/server/zimble-scored"),
                           {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"), db,
                            QStringLiteral("--quiet")});
            for (QProcess& proc : p) {
                QVERIFY(proc.waitForStarted());
                QDeadlineTimer deadline(20000);
                QByteArray err;
                while (!err.contains("serving on") && proc.state() == QProcess::Running && !deadline.hasExpired()) {
                    proc.waitForReadyRead(100);
                    err += proc.readAllStandardError();
                }
                QVERIFY2(err.contains("serving on"), err.constData());
            }
            for (QProcess& proc : p) {
                proc.terminate();
                QVERIFY(proc.waitForFinished(10000));
            }
        }
    }

    void twoInstancesShareOneDatabase()
    {
        const QString db = m_dir.filePath(QStringLiteral("shared.sqlite"));
        const QStringList args{QStringLiteral("--db"), db, QStringLiteral("--rate-limit"), QStringLiteral("0"), QStringLiteral("--quiet")};
        QProcess a, b;
        const quint16 portA = startProgram(a, args), portB = startProgram(b, args);
        QVERIFY(portA && portB);

        // Many submissions in flight at once, alternating between the instances.
        QNetworkAccessManager nam;
        int pending = 0;
        const int total = 200;
        for (int i = 1; i <= total; ++i) {
            const quint16 port = i % 2 ? portA : portB;
            const QByteArray t = target(i, total - i, i % 17, i, "P" + QByteArray::number(i));
            QNetworkReply* r = nam.get(QNetworkRequest(QUrl::fromEncoded("http://127.0.0.1:" + QByteArray::number(port) + t)));
            ++pending;
            connect(r, &QNetworkReply::finished, r, [&pending, r] {
                --pending;
                r->deleteLater();
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(pending, 0, 60000);
        const QStringList f = get(portB, target(0, 0, 0, 0, "Peek")).fields();
        QCOMPARE(f.mid(1, 4), (QStringList{"200", "199", "16", "200"}));
        QCOMPARE(f[5], QStringLiteral("P200"));
        QCOMPARE(f[6], QStringLiteral("P1"));
        // Several submissions reach 16 on the 6 x 6 board; whichever arrived first keeps the record.
        QVERIFY2(f[7].mid(1).toInt() % 17 == 16, qPrintable(f[7]));
        // The other instance's page shows what was stored through this one within a second or so.
        QTRY_VERIFY_WITH_TIMEOUT(get(portA, "/zimble1.asp").body.contains("P200"), 3000);

        // Both stop cleanly on SIGTERM.
        for (QProcess* p : {&a, &b}) {
            ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
            QVERIFY(p->waitForFinished(10000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }
    }

    void topTenIsTenDifferentPlayers()
    {
        startService();
        // One name eleven times, highest last: it holds one place, with its best score.
        for (int i = 0; i < 11; ++i)
            get(m_port, target(100 + i, 0, 0, 0, "Solo"));
        // Twelve others; P3 and P4 tie (P3 came first), as do P9 and P10.
        const QList<qint64> scores{50, 60, 70, 70, 80, 90, 95, 96, 97, 97, 1, 2};
        for (int i = 0; i < scores.size(); ++i)
            get(m_port, target(scores[i], 0, 0, 0, "P" + QByteArray::number(i + 1)));
        const auto rows = topTen(get(m_port, "/zimble1.asp").body, 4);
        const QList<std::pair<QString, qint64>> expected{{"Solo", 110}, {"P9", 97}, {"P10", 97}, {"P8", 96}, {"P7", 95},
                                                         {"P6", 90},    {"P5", 80}, {"P3", 70},  {"P4", 70}, {"P2", 60}};
        QCOMPARE(rows, expected);
        QCOMPARE(topTen(get(m_port, "/zimble1.asp").body, 6).size(), 0);
    }

    void pageIsCachedAndGuarded()
    {
        startService();
        get(m_port, target(500, 0, 0, 0, "Ann"));
        const RawResult first = raw(m_port, "GET /zimble1.asp HTTP/1.1\r\nHost: x\r\n\r\n", replies(1));
        const QList<RawReply> r = parseReplies(first.data);
        QCOMPARE(r.size(), 1);
        const QByteArray head = r[0].head;
        for (const QByteArray& h : {QByteArray("X-Content-Type-Options: nosniff"), QByteArray("Cache-Control: public, max-age="),
                                    QByteArray("Content-Security-Policy: default-src 'none'; style-src 'sha256-")})
            QVERIFY2(head.contains(h), head.constData());
        QVERIFY(!head.contains("script-src"));
        static const QRegularExpression etagPattern(QStringLiteral("\r\nETag: (\"[0-9a-f]+\")"));
        const QByteArray tag = etagPattern.match(QString::fromLatin1(head)).captured(1).toLatin1();
        QVERIFY(!tag.isEmpty());
        // The style sheet's hash in the policy is the hash of the page's style sheet.
        const QByteArray body = r[0].body;
        const qsizetype a = body.indexOf("<style>") + 7, b = body.indexOf("</style>");
        QVERIFY(head.contains(QCryptographicHash::hash(body.mid(a, b - a), QCryptographicHash::Sha256).toBase64()));

        auto conditional = [&](const QByteArray& t) {
            return parseReplies(raw(m_port, "GET /zimble1.asp HTTP/1.1\r\nHost: x\r\nIf-None-Match: " + t + "\r\n\r\n", replies(1)).data);
        };
        QCOMPARE(conditional(tag).value(0).status, 304);
        QCOMPARE(conditional("\"other\"").value(0).status, 200);
        // A score that enters no top ten and sets no record leaves the page as it was...
        for (int i = 0; i < 10; ++i)
            get(m_port, target(600 + i, 0, 0, 0, "Q" + QByteArray::number(i)));
        const QByteArray full = get(m_port, "/zimble1.asp").body;
        const QByteArray tag2 = etagPattern.match(QString::fromLatin1(parseReplies(raw(m_port, "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n", replies(1, true)).data, true).value(0).head)).captured(1).toLatin1();
        get(m_port, target(1, 0, 0, 0, "Low"));
        QCOMPARE(conditional(tag2).value(0).status, 304);
        // ... and a new record changes it.
        get(m_port, target(9999, 0, 0, 0, "Top"));
        QCOMPARE(conditional(tag2).value(0).status, 200);
        QVERIFY(get(m_port, "/zimble1.asp").body != full);
    }

    void pipelinedSubmissionsKeepArrivalOrder()
    {
        startService();
        // Three submissions in one send: all stored in one or more commits, answered in order;
        // the tie goes to the first.
        const QByteArray burst = "GET " + target(50, 0, 0, 0, "First") + " HTTP/1.1\r\nHost: x\r\n\r\n"
            + "GET " + target(50, 0, 0, 0, "Second") + " HTTP/1.1\r\nHost: x\r\n\r\n"
            + "GET " + target(49, 7, 0, 0, "Third") + " HTTP/1.1\r\nHost: x\r\n\r\n";
        const QList<RawReply> r = parseReplies(raw(m_port, burst, replies(3)).data);
        QCOMPARE(r.size(), 3);
        QVERIFY(QString::fromLatin1(r[0].body).contains(QStringLiteral("Congratulations, First!")));
        QVERIFY(QString::fromLatin1(r[1].body).contains(QStringLiteral("Thank you, Second.")));
        QVERIFY(QString::fromLatin1(r[2].body).contains(QStringLiteral("Congratulations, Third! You set the new world record for the 5 x 5 board.")));
        QCOMPARE(QString::fromLatin1(r[2].body).split(QLatin1Char('|')).mid(1, 6),
                 (QStringList{"50", "7", "0", "0", "First", "Third"}));
    }

    void storageFailureAnswersBusy()
    {
        const QString file = m_dir.filePath(QStringLiteral("failing.sqlite"));
        startService(0, file);
        get(m_port, target(40, 0, 0, 0, "Kept"));
        // Another connection makes every insert fail, as a full disk or a read-only file would.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("saboteur"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON submissions "
                                          "BEGIN SELECT RAISE(ABORT, 'disk full (test)'); END")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("saboteur"));
        const Reply busy = get(m_port, target(90, 0, 0, 0, "Lost"));
        QCOMPARE(busy.status, 503);
        QCOMPARE(busy.type, QByteArray("text/plain; charset=windows-1252"));
        const QStringList f = busy.fields();
        QCOMPARE(f.size(), 10);
        QCOMPARE(f.mid(1, 5), (QStringList{"40", "0", "0", "0", "Kept"}));
        QVERIFY2(f[9].contains(QStringLiteral("busy")), qPrintable(f[9]));
        const auto parsed = parseReply(QString::fromLatin1(busy.body));
        QVERIFY(parsed.has_value());
        // The service keeps serving; once the database takes writes again, so does the service.
        QCOMPARE(get(m_port, "/health").status, 200);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("repair"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("DROP TRIGGER refuse")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("repair"));
        const QStringList ok = get(m_port, target(41, 0, 0, 0, "Back")).fields();
        QCOMPARE(ok.mid(1, 5), (QStringList{"41", "0", "0", "0", "Back"}));
        QVERIFY(!get(m_port, "/zimble1.asp").body.contains("Lost"));
    }

    void requestTargetLimit_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("status");
        QTest::newRow("2048 bytes") << 2048 << 200;
        QTest::newRow("2049 bytes") << 2049 << 414;
    }

    void requestTargetLimit()
    {
        QFETCH(int, length);
        QFETCH(int, status);
        startService();
        const QByteArray t = "/health?" + QByteArray(length - 8, 'x');
        QCOMPARE(t.size(), length);
        const QList<RawReply> r = parseReplies(raw(m_port, "GET " + t + " HTTP/1.1\r\nHost: x\r\n\r\n", replies(1)).data);
        QCOMPARE(r.value(0).status, status);
    }

    void manySmallRequestsOnOneConnection()
    {
        // Far more than the unanswered-bytes limit in all, one request at a time: each answer
        // starts the count again.
        startService();
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_COMPARE_WITH_TIMEOUT(s.state(), QAbstractSocket::ConnectedState, 5000);
        QByteArray got;
        for (int i = 0; i < 40; ++i) {
            s.write("GET /health HTTP/1.1\r\nHost: x\r\nX-Pad: " + QByteArray(1000, 'p') + "\r\n\r\n");
            QTRY_VERIFY_WITH_TIMEOUT((got += s.readAll(), parseReplies(got).size() == i + 1), 5000);
        }
        QCOMPARE(s.state(), QAbstractSocket::ConnectedState);
    }

    void commandLine()
    {
        const QString program = QStringLiteral(ZIMBLE_BINARY_DIR "/server/zimble-scored");
        QProcess help;
        help.start(program, {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished());
        const QByteArray text = help.readAllStandardOutput();
        QVERIFY(text.contains("--listen") && text.contains("--db") && text.contains("--rate-limit"));
        QProcess bad;
        bad.start(program, {QStringLiteral("--listen"), QStringLiteral("nonsense")});
        QVERIFY(bad.waitForFinished());
        QCOMPARE(bad.exitCode(), 2);
        QProcess nodb;
        nodb.start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"),
                             m_dir.filePath(QStringLiteral("no/such/dir/x.sqlite"))});
        QVERIFY(nodb.waitForFinished());
        QCOMPARE(nodb.exitCode(), 1);
        QVERIFY(nodb.readAllStandardError().contains("cannot open the database"));
    }
};

QTEST_MAIN(TestService)
#include "test_service.moc"
