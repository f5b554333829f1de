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

#include <csignal>

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
        now = 60001;
        QVERIFY(limiter.allow(QStringLiteral("a")));
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

    void twoInstancesShareOneDatabase()
    {
        const QString db = m_dir.filePath(QStringLiteral("shared.sqlite"));
        const QString program = QStringLiteral(ZIMBLE_BINARY_DIR "/server/zimble-scored");
        QProcess a, b;
        const quint16 portA = 18500 + QRandomGenerator::global()->bounded(500), portB = portA + 1;
        for (auto [proc, port] : {std::pair{&a, portA}, std::pair{&b, portB}}) {
            proc->start(program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--db"),
                                  db, QStringLiteral("--rate-limit"), QStringLiteral("0"), QStringLiteral("--quiet")});
            QVERIFY(proc->waitForStarted());
        }
        QTRY_VERIFY_WITH_TIMEOUT(get(portA, "/health").status == 200 && get(portB, "/health").status == 200, 10000);

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
        const QByteArray page = get(portA, "/zimble1.asp").body;
        QVERIFY(page.contains("P200"));

        // Both stop cleanly on SIGTERM.
        for (QProcess* p : {&a, &b}) {
            ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
            QVERIFY(p->waitForFinished(10000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }
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
