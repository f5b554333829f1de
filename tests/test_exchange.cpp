// The Update exchange of the summary window, against the real service and against a stub
// service whose replies the test chooses.

#include "testsupport.h"

#include "app/playingfield.h"
#include "app/session.h"
#include "app/summarywindow.h"
#include "scores/exchange.h"
#include "scores/httptransfer.h"
#include "scores/replayfile.h"
#include "scores/scorefile.h"
#include "server/protocol.h"
#include "server/scoreservice.h"
#include "ui/knob.h"
#include "ui/leddisplay.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>


using namespace zimble;

namespace {

// Answers every request with a chosen body after a chosen delay (negative: never), and records
// the request targets it saw.
class StubService : public QTcpServer {
public:
    QByteArray body = "x|1|2|3|4|a|b|c|d|ok";
    QByteArray statusLine = "HTTP/1.1 200 OK";
    QByteArray extraHeaders;
    int delayMs = 0;
    // After the body, keep sending chunks of junk as fast as the client takes them.
    bool endless = false;
    qint64 endlessSent = 0;
    // What replay requests get; empty: 404, as from a service that knows nothing of replays.
    QByteArray replayBody;
    QList<QByteArray> targets;
    QList<QByteArray> replayTargets;
    // Redirects sent before the answer, each with a body of its own.
    int redirects = 0;
    QByteArray redirectBody = "r|9|9|9|9|r|r|r|r|the redirect's own body";

    StubService() { listen(QHostAddress::LocalHost, 0); }

protected:
    void incomingConnection(qintptr fd) override
    {
        auto* s = new QTcpSocket(this);
        s->setSocketDescriptor(fd);
        auto buffer = std::make_shared<QByteArray>();
        connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
            buffer->append(s->readAll());
            if (!buffer->contains("\r\n\r\n"))
                return;
            const QByteArray target = buffer->split(' ').value(1);
            if (target.startsWith("/zr.asp")) {
                replayTargets.append(target);
                const QByteArray status = replayBody.isEmpty() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK";
                s->write(status + "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
                         + QByteArray::number(replayBody.size()) + "\r\n\r\n" + replayBody);
                s->disconnectFromHost();
                return;
            }
            targets.append(target);
            if (redirects > 0) {
                --redirects;
                s->write("HTTP/1.1 302 Found\r\nLocation: /zm2.asp?hop\r\nContent-Type: text/plain\r\nConnection: close\r\n"
                         "Content-Length: " + QByteArray::number(redirectBody.size()) + "\r\n\r\n" + redirectBody);
                s->disconnectFromHost();
                return;
            }
            if (delayMs < 0)
                return;
            QTimer::singleShot(delayMs, s, [this, s] {
                if (endless) {
                    streamEndlessly(s);
                    return;
                }
                s->write(statusLine + "\r\nContent-Type: text/plain\r\nConnection: close\r\n" + extraHeaders
                         + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                s->disconnectFromHost();
            });
        });
    }

    void streamEndlessly(QTcpSocket* s)
    {
        s->write(statusLine + "\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n");
        s->write(QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n");
        const QByteArray junk = QByteArray(64 * 1024, 'z');
        const QByteArray chunk = QByteArray::number(junk.size(), 16) + "\r\n" + junk + "\r\n";
        auto refill = [this, s, chunk] {
            // Bounded: at most 2 GiB, and only while the client is still reading.
            while (s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() < 4 * chunk.size()
                   && endlessSent < (qint64(2) << 30)) {
                s->write(chunk);
                endlessSent += chunk.size();
            }
        };
        connect(s, &QTcpSocket::bytesWritten, s, refill);
        refill();
    }
};

// The most memory this process has held so far, in bytes.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestExchange : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_messages;
    Session m_session;

    // A summary window over a score file holding these bests and this name.
    std::unique_ptr<SummaryWindow> openSummary(const QString& host, std::array<double, 4> bests = {}, const QString& name = QStringLiteral("Ann"))
    {
        ScoreRecord r;
        for (int k = 0; k < 4; ++k)
            r.bests[4 + k] = FixedPoint::fromDouble(bests[k]);
        r.playerName = fixedText(name);
        saveScores(m_session.scoreFileName(), r, nullptr);
        m_session.setScoreHost(host);
        return std::make_unique<SummaryWindow>(m_session, 0, 4);
    }

    static QList<HttpTransfer::State> fullSequence()
    {
        using S = HttpTransfer::State;
        return {S::ResolvingHost,  S::HostResolved,      S::Connecting,       S::Connected, S::SendingRequest,
                S::RequestSent,    S::ReceivingResponse, S::ResponseReceived, S::Completed};
    }

    static QString hostOf(const QTcpServer& server) { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_session.setMessageHandler([this](QWidget*, const QString& text) { m_messages.append(text); });
    }

    void init()
    {
        m_messages.clear();
        QFile::remove(QStringLiteral("Scores.dat"));
    }

    void requestCarriesWholeBestsNameAndCheck()
    {
        StubService stub;
        auto s = openSummary(hostOf(stub), {120, 340, 0, 15.5});
        s->updateButton()->click();
        QTRY_COMPARE(stub.targets.size(), 1);
        QCOMPARE(stub.targets[0], QByteArray("/zm2.asp?120&340&0&16&Ann&1324"));
        // Whole numbers in memory only: the file keeps 15.5.
        QTRY_VERIFY(!s->isUpdating());
        QCOMPARE(qFromLittleEndian<qint64>(readFile(QStringLiteral("Scores.dat")).constData() + 56), qint64(155000));

        auto t = openSummary(hostOf(stub), {2.5, 3.5, 0, 0}, QString());
        t->updateButton()->click();
        QTRY_COMPARE(stub.targets.size(), 2);
        QCOMPARE(stub.targets[1], QByteArray("/zm2.asp?2&4&0&0&&16"));
    }

    void nameIsCleanedAndEncodedForHttp()
    {
        StubService stub;
        auto s = openSummary(hostOf(stub));
        s->nameEdit()->setText(QString::fromUtf8("  A&B|C J\u00F6rg 100% #1  "));
        s->updateButton()->click();
        QCOMPARE(s->nameEdit()->text(), QString::fromUtf8("  A B C J\u00F6rg 100% #1  "));
        QTRY_COMPARE(stub.targets.size(), 1);
        QCOMPARE(stub.targets[0], QByteArray("/zm2.asp?0&0&0&0&A%20B%20C%20J%C3%B6rg%20100%25%20%231&0"));
    }

    void stateSequenceAndReplyApplied()
    {
        StubService stub;
        stub.body = "x|980|1410|2210|3305|Bo%20Kim|Ann%20Lee|Cy|Dee|Thank you";
        // The 4 x 4 best has its replay, which this service, knowing nothing of replays, answers with 404.
        const GameReplay game{4, 0, {0, 0, 1}, {}};
        ReplayRecord replays;
        replays.byBoard[4] = game;
        QVERIFY(saveReplays(m_session.replayFileName(), replays, nullptr));
        auto s = openSummary(hostOf(stub), {game.score().toDouble(), 2, 3, 4});
        QList<HttpTransfer::State> states;
        QStringList captions;
        connect(s->transfer(), &HttpTransfer::stateChanged, this, [&](HttpTransfer::State st) {
            states.append(st);
            captions.append(s->statusLine()->caption());
        });
        s->updateButton()->click();
        QTRY_VERIFY(!s->isUpdating());
        // Every step once, in order, connected and sending included.
        QCOMPARE(states, fullSequence());
        QCOMPARE(captions.first(), QStringLiteral("Looking up the IP address of the specified host computer."));
        QCOMPARE(captions[1], QString::fromUtf8("Successfully found the IP\u00A0address of the specified host computer"));
        QCOMPARE(captions[2], QStringLiteral("Connecting to the host computer."));
        QCOMPARE(captions[3], QStringLiteral("Successfully connected to the host computer."));
        QCOMPARE(captions[4], QStringLiteral("Sending a request to the host computer."));
        QCOMPARE(captions[5], QStringLiteral("Successfully sent the request."));
        QCOMPARE(captions[6], QStringLiteral("Receiving a response from the host computer."));
        QCOMPARE(captions[7], QString());
        QCOMPARE(stub.replayTargets.size(), 1);
        QCOMPARE(s->statusLine()->caption(), QStringLiteral("Thank you"));
        QFile::remove(m_session.replayFileName());
        QCOMPARE(s->worldHighDisplay(4)->value(), 980.0);
        QCOMPARE(s->worldHighDisplay(7)->value(), 3305.0);
        QCOMPARE(s->holderPanel(4)->caption(), QStringLiteral("Bo Kim"));
        QCOMPARE(s->holderPanel(5)->caption(), QStringLiteral("Ann Lee"));
        const QByteArray file = readFile(QStringLiteral("Scores.dat"));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 120), qint64(9800000));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 144), qint64(33050000));
        QCOMPARE(file.mid(376, 50), QByteArray("Bo Kim").leftJustified(50, ' '));
        QCOMPARE(file.mid(526, 50), QByteArray("Dee").leftJustified(50, ' '));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 32), game.score().raw()); // the best is left as it was
    }

    void longHoldersAndLongBodies()
    {
        StubService stub;
        const QByteArray longName = QByteArray("Very%20") + QByteArray(60, 'L');
        // Field 9 begins before byte 1024 and is cut there; what follows is lost.
        QByteArray body = "x|1|2|3|4|" + longName + "|b|c|d|";
        body += QByteArray(1024 - body.size() - 3, 'm') + "ENDxyz|more";
        stub.body = body;
        auto s = openSummary(hostOf(stub));
        s->updateButton()->click();
        QTRY_VERIFY(!s->isUpdating());
        QCOMPARE(s->holderPanel(4)->caption(), QStringLiteral("Very ") + QString(60, QLatin1Char('L')));
        QVERIFY(s->statusLine()->caption().endsWith(QStringLiteral("mmmEND")));
        const QByteArray file = readFile(QStringLiteral("Scores.dat"));
        QCOMPARE(file.mid(376, 50), QByteArray("Very ") + QByteArray(45, 'L'));
    }

    void malformedRepliesChangeNothing()
    {
        StubService stub;
        for (const QByteArray& bad : {QByteArray("x|1|2|3|4|a|b|c|d"), QByteArray("x|1|two|3|4|a|b|c|d|m"),
                                      QByteArray("<html><body>Server error</body></html>"), QByteArray()}) {
            stub.body = bad;
            auto s = openSummary(hostOf(stub), {5, 6, 7, 8});
            const QByteArray before = readFile(QStringLiteral("Scores.dat"));
            s->updateButton()->click();
            QTRY_VERIFY(!s->isUpdating());
            QCOMPARE(readFile(QStringLiteral("Scores.dat")), before);
            QVERIFY(s->statusLine()->caption().contains(QStringLiteral("could not be understood")));
            QCOMPARE(s->worldHighDisplay(4)->value(), 0.0);
            QCOMPARE(s->holderPanel(4)->caption(), QString());
        }
    }

    void serviceDownAndTimeout()
    {
        quint16 closedPort;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            closedPort = probe.serverPort();
        }
        auto s = openSummary(QStringLiteral("127.0.0.1:%1").arg(closedPort));
        QList<HttpTransfer::State> states;
        connect(s->transfer(), &HttpTransfer::stateChanged, this, [&](HttpTransfer::State st) { states.append(st); });
        const QByteArray before = readFile(QStringLiteral("Scores.dat"));
        s->updateButton()->click();
        QTRY_VERIFY(states.contains(HttpTransfer::State::Failed));
        QCOMPARE(states.count(HttpTransfer::State::Failed), 1);
        QVERIFY(!states.contains(HttpTransfer::State::Completed));
        // The address tried and the reason in words.
        QCOMPARE(s->statusLine()->caption(),
                 QStringLiteral("The score service at 127.0.0.1:%1 could not be reached: connection refused.").arg(closedPort));
        QCOMPARE(readFile(QStringLiteral("Scores.dat")), before);

        StubService silent;
        silent.delayMs = -1;
        auto t = openSummary(hostOf(silent));
        t->transfer()->setTimeoutMs(300);
        t->updateButton()->click();
        QTRY_VERIFY(!t->isUpdating());
        QCOMPARE(t->statusLine()->caption(), QStringLiteral("The score service at %1 could not be reached: no answer within "
                                                            "0.3 s.").arg(hostOf(silent)));
    }

    void oneTransferAtATime()
    {
        StubService slow;
        slow.delayMs = 300;
        auto s = openSummary(hostOf(slow));
        QVERIFY(s->waitBar()->isHidden());
        s->updateButton()->click();
        s->updateButton()->click();
        // While it waits: a busy cursor and a bar that fills towards the time limit.
        QCOMPARE(s->cursor().shape(), Qt::BusyCursor);
        QVERIFY(!s->waitBar()->isHidden());
        QTRY_VERIFY(s->waitBar()->value() > 0);
        QVERIFY(s->waitBar()->value() < s->waitBar()->maximum() / 10);
        QTRY_VERIFY(!s->isUpdating());
        QCOMPARE(slow.targets.size(), 1);
        QCOMPARE(s->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(s->waitBar()->isHidden());
    }

    void closingAbandonsTheTransfer()
    {
        StubService slow;
        slow.delayMs = 200;
        slow.body = "x|999|999|999|999|Late|Late|Late|Late|too late";
        QList<HttpTransfer::State> states;
        {
            auto s = openSummary(hostOf(slow));
            connect(s->transfer(), &HttpTransfer::stateChanged, this, [&](HttpTransfer::State st) { states.append(st); });
            s->nameEdit()->setText(QStringLiteral("Leaver"));
            s->updateButton()->click();
            QTRY_COMPARE(slow.targets.size(), 1);
            s->exitButton()->click();
        }
        QTest::qWait(400);
        QVERIFY(!states.contains(HttpTransfer::State::Completed));
        const QByteArray file = readFile(QStringLiteral("Scores.dat"));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 120), qint64(0));
        QCOMPARE(file.mid(726, 6), QByteArray("Leaver"));
    }

    void endlessReplyKeepsMemoryFlat()
    {
        StubService stub;
        stub.endless = true;
        stub.body = "x|1|2|3|4|a|b|c|d|streamed ";
        auto s = openSummary(hostOf(stub));
        const qint64 before = peakResidentBytes();
        QElapsedTimer clock;
        clock.start();
        s->updateButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!s->isUpdating(), 15000);
        // The first 1,024 bytes are all that is kept: the transfer ends there, long before its timeout.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(peakResidentBytes() - before < 64 * 1024 * 1024,
                 qPrintable(QStringLiteral("peak grew by %1 bytes").arg(peakResidentBytes() - before)));
        QVERIFY(s->statusLine()->caption().startsWith(QStringLiteral("streamed zzz")));
        QCOMPARE(s->worldHighDisplay(4)->value(), 1.0);
    }

    void hostileReplies_data()
    {
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("status");   // what the status line must show (start of it)
        QTest::addColumn<bool>("applied");     // world highs taken over
        QTest::addColumn<int>("redirects");    // plain-HTTP redirects, each with a body, before the answer
        QTest::newRow("busy service, proper reply") << QByteArray("HTTP/1.1 503 Service Unavailable") << QByteArray()
                                                    << QByteArray("x|9|9|9|9|a|b|c|d|The score service is busy.")
                                                    << QStringLiteral("The score service is busy.") << false << 0;
        QTest::newRow("server error, proper reply") << QByteArray("HTTP/1.1 500 Internal Server Error") << QByteArray()
                                                    << QByteArray("x|9|9|9|9|a|b|c|d|Broken, sorry.")
                                                    << QStringLiteral("Broken, sorry.") << false << 0;
        QTest::newRow("request refused, proper reply") << QByteArray("HTTP/1.1 400 Bad Request") << QByteArray()
                                                       << QByteArray("x|9|9|9|9|a|b|c|d|Your scores were not recorded.")
                                                       << QStringLiteral("Your scores were not recorded.") << false << 0;
        QTest::newRow("request refused, no reply") << QByteArray("HTTP/1.1 400 Bad Request") << QByteArray()
                                                   << QByteArray("bad") << QStringLiteral("400: The score service answered 400")
                                                   << false << 0;
        QTest::newRow("redirect without an address") << QByteArray("HTTP/1.1 301 Moved Permanently") << QByteArray()
                                                     << QByteArray("x|9|9|9|9|a|b|c|d|moved")
                                                     << QStringLiteral("The score service sent a redirect (301) without an address")
                                                     << false << 0;
        QTest::newRow("redirect to https") << QByteArray("HTTP/1.1 302 Found")
                                           << QByteArray("Location: https://127.0.0.1:1/zm2.asp?0&0&0&0&Ann&0\r\n") << QByteArray()
                                           << QStringLiteral("The score service redirected to https://127.0.0.1:1/zm2.asp?0&0&0&0&Ann&0, "
                                                             "which the game cannot follow")
                                           << false << 0;
        // Plain-HTTP redirects are followed, but not without end.
        QTest::newRow("redirect loop") << QByteArray("HTTP/1.1 302 Found") << QByteArray("Location: /zm2.asp?again\r\n")
                                       << QByteArray() << QStringLiteral("The score service redirected more than 5 times")
                                       << false << 0;
        const QByteArray answer("x|1|2|3|4|A%20B|C%20%20D|E%20F|%20%20|Thank you");
        QTest::newRow("five redirects, then the answer") << QByteArray("HTTP/1.1 200 OK") << QByteArray() << answer
                                                         << QStringLiteral("Thank you") << true << 5;
        QTest::newRow("one redirect too many") << QByteArray("HTTP/1.1 200 OK") << QByteArray() << answer
                                               << QStringLiteral("The score service redirected more than 5 times") << false << 6;
        QTest::newRow("error status without a reason phrase") << QByteArray("HTTP/1.1 503 ") << QByteArray() << QByteArray("busy")
                                                              << QStringLiteral("503: The score service answered 503.") << false << 0;
        QTest::newRow("a negative world high") << QByteArray("HTTP/1.1 200 OK") << QByteArray()
                                               << QByteArray("x|-5|2|3|4|a|b|c|d|m")
                                               << QStringLiteral("The score service sent a reply that could not be understood")
                                               << false << 0;
        QTest::newRow("a world high past nine digits") << QByteArray("HTTP/1.1 200 OK") << QByteArray()
                                                       << QByteArray("x|1|2|3|1000000000|a|b|c|d|m")
                                                       << QStringLiteral("The score service sent a reply that could not be understood")
                                                       << false << 0;
        QTest::newRow("server error, no reply") << QByteArray("HTTP/1.1 500 Internal Server Error") << QByteArray()
                                                << QByteArray("<html>oops</html>")
                                                << QStringLiteral("500: The score service answered 500") << false << 0;
        QByteArray junk(4000, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919) % 251);
        QTest::newRow("compressed junk") << QByteArray("HTTP/1.1 200 OK") << QByteArray("Content-Encoding: gzip\r\n")
                                         << junk << QStringLiteral("The score service sent a reply that could not be understood")
                                         << false << 0;
        QTest::newRow("control characters in names") << QByteArray("HTTP/1.1 200 OK") << QByteArray()
                                                     << QByteArray("x|1|2|3|4|A") + '\0' + QByteArray("B|C\r\nD|E\x01" "F|") + QByteArray(2, '\0')
                                                            + QByteArray("|ok\r\nthen")
                                                     << QStringLiteral("ok  then") << true << 0;
    }

    void hostileReplies()
    {
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, body);
        QFETCH(QString, status);
        QFETCH(bool, applied);
        QFETCH(int, redirects);
        StubService stub;
        stub.redirects = redirects;
        stub.statusLine = statusLine;
        stub.extraHeaders = headers;
        stub.body = body;
        auto s = openSummary(hostOf(stub), {5, 6, 7, 8});
        const QByteArray before = readFile(QStringLiteral("Scores.dat"));
        s->updateButton()->click();
        QTRY_VERIFY(!s->isUpdating());
        const QString shown = s->statusLine()->caption();
        QVERIFY2(shown.startsWith(status), qPrintable(shown));
        QVERIFY2(!shown.trimmed().endsWith(QLatin1Char(':')), qPrintable(shown));
        const QByteArray after = readFile(QStringLiteral("Scores.dat"));
        if (!applied) {
            QCOMPARE(after, before);
            QCOMPARE(s->worldHighDisplay(4)->value(), 0.0);
            return;
        }
        QCOMPARE(s->worldHighDisplay(4)->value(), 1.0);
        QCOMPARE(s->holderPanel(4)->caption(), QStringLiteral("A B"));
        QCOMPARE(s->holderPanel(5)->caption(), QStringLiteral("C  D"));
        QCOMPARE(s->holderPanel(6)->caption(), QStringLiteral("E F"));
        // Stored without a NUL or control byte: a holder of two NULs is two spaces, not "never set".
        const QByteArray holders = after.mid(376, 200);
        for (char c : holders)
            QVERIFY2(static_cast<unsigned char>(c) >= 0x20, qPrintable(QString::fromLatin1(holders.toHex())));
        QCOMPARE(after.mid(526, 50), QByteArray(50, ' '));
    }

    void aRealGamesReplayIsVerifiedEndToEnd_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("tiles"); // each clicked four times in a row
        QTest::addColumn<bool>("keptByAnOlderGame"); // in a version-1 file, without a clock per click
        QTest::newRow("five tiles of 4 x 4") << 4 << 5 << false;
        QTest::newRow("a 7 x 7 game played to its end") << 7 << 49 << false;
        QTest::newRow("kept by an older game") << 4 << 5 << true;
    }

    void aRealGamesReplayIsVerifiedEndToEnd()
    {
        QFETCH(int, board);
        QFETCH(int, tiles);
        QFETCH(bool, keptByAnOlderGame);
        QVERIFY(test::copyPictures(m_dir.path()));
        server::ScoreService service({m_dir.filePath(QStringLiteral("replays-%1.sqlite").arg(QTest::currentDataTag())), 0, false});
        const quint16 port = service.listenOn(QHostAddress::LocalHost, 0);
        QVERIFY(port);
        // A game played on the playing field, the clock running unevenly between clicks, with a
        // long pause once; the ZQ display read after every click.
        std::optional<GameReplay> replay;
        double score = 0;
        std::vector<double> shown;
        int ticksBeforeLastClick = 0;
        {
            PlayingField field(m_session);
            field.setFrameDelay([](float) {});
            field.sizeKnob()->setValue(board);
            field.setSummaryPresenter([&] { replay = field.state().replay(), score = field.scoreDisplay()->value(); });
            for (int tile = 0; tile < tiles; ++tile) {
                for (int k = 0; k < 4; ++k) {
                    field.tile(tile)->click();
                    shown.push_back(replay ? score : field.scoreDisplay()->value());
                    const int ticks = (tile * 4 + k) * 5 % 23 + (tile == 2 && k == 0 ? 200 : 0);
                    for (int tick = 0; tick < ticks; ++tick)
                        field.onClockTick();
                    if (tile + 1 < tiles || k < 3) // not after the last click
                        ticksBeforeLastClick += ticks;
                }
            }
            if (!replay)
                replay = field.state().replay(), score = field.scoreDisplay()->value();
        }
        QCOMPARE(replay->boardSize, board);
        QCOMPARE(replay->clicks.size(), std::size_t(4 * tiles));
        QCOMPARE(replay->clockCycles, ticksBeforeLastClick / 16);
        std::vector<double> replayed;
        for (FixedPoint zq : scoresAfterEachClick(*replay))
            replayed.push_back(zq.toDouble());
        QCOMPARE(replayed, shown);
        auto s = openSummary(QStringLiteral("127.0.0.1:%1").arg(port));
        s.reset();
        QFile::remove(QStringLiteral("Scores.dat"));
        QFile::remove(m_session.replayFileName());
        if (keptByAnOlderGame) {
            QFile old(m_session.replayFileName());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("Zimble replays, version 1\n" + QByteArray::number(board) + ' ' + QByteArray::number(replay->clockCycles) + ' '
                      + encodeClicks(replay->clicks).toLatin1() + '\n');
        }
        auto summary = std::make_unique<SummaryWindow>(m_session, score, board, keptByAnOlderGame ? std::nullopt : replay);
        summary->nameEdit()->setText(QStringLiteral("Real Player"));
        ReplayRecord kept;
        QVERIFY(loadReplays(m_session.replayFileName(), kept, nullptr) && kept.byBoard[std::size_t(board)]);
        QCOMPARE(kept.byBoard[std::size_t(board)]->clickCycles, keptByAnOlderGame ? std::vector<std::int32_t>() : replay->clickCycles);
        summary->updateButton()->click();
        QTRY_VERIFY(!summary->isUpdating());
        const QString status = summary->statusLine()->caption();
        // The congratulation for the record stays beside the verdict.
        QCOMPARE(status, QStringLiteral("Congratulations! World record on %1 x %1. Verified: %1 x %1. Your ranks: %1 x %1 1st of 1.").arg(board));
        QVERIFY(service.gamePage().contains(
            QStringLiteral("<li class=\"row\" data-verified=\"yes\"><span class=\"rank\">%1&nbsp;&times;&nbsp;%1</span>").arg(board).toUtf8()));
        QVERIFY(summary->statusLine()->captionFits());
    }

    void statusPanelHoldsTheLongestMessages()
    {
        auto s = openSummary(QStringLiteral("127.0.0.1:1"));
        const QList<server::BoardRank> worst{{4, 99999, 99999}, {5, 99999, 99999}, {6, 99999, 99999}, {7, 99999, 99999}};
        const QList<server::BoardRank> first{{4, 1, 99999}, {5, 1, 99999}, {6, 1, 99999}, {7, 12345, 99999}};
        const QStringList messages{
            server::thanksMessage({4, 5, 6}, first),
            server::thanksMessage({}, worst),
            server::replayMessage({{4, true, {}, true}, {5, true, {}, false}, {6, false, QStringLiteral("x"), false},
                                   {7, false, QStringLiteral("x"), false}},
                                  worst),
            server::replayMessage({{4, true, {}, true}, {5, true, {}, false}, {6, false, QStringLiteral("x"), false},
                                   {7, false, QStringLiteral("x"), false}},
                                  first, {4, 5, 6}),
            // The exchange's message when the replays could not be checked afterwards.
            server::thanksMessage({4, 5, 6}, first) + QStringLiteral(" Your replays could not be checked just now."),
            server::thanksMessage({}, worst) + QStringLiteral(" Your replays could not be checked just now.")};
        for (const QString& m : messages) {
            s->statusLine()->setCaption(m);
            QVERIFY2(s->statusLine()->captionFits(), qPrintable(m));
        }
    }

    void againstTheRealService()
    {
        server::ScoreService service({m_dir.filePath(QStringLiteral("real.sqlite")), 0, false});
        const quint16 port = service.listenOn(QHostAddress::LocalHost, 0);
        QVERIFY(port);
        auto s = openSummary(QStringLiteral("127.0.0.1:%1").arg(port), {812.5, 0, 0, 42}, QStringLiteral("Ann Lee"));
        QList<HttpTransfer::State> states;
        connect(s->transfer(), &HttpTransfer::stateChanged, this, [&](HttpTransfer::State st) { states.append(st); });
        // The second Update reuses the kept-alive connection and still reports every step.
        QString firstStatus;
        for (int round = 0; round < 2; ++round) {
            states.clear();
            s->updateButton()->click();
            QTRY_VERIFY(!s->isUpdating());
            QCOMPARE(states, fullSequence());
            if (round == 0)
                firstStatus = s->statusLine()->caption();
        }
        QCOMPARE(s->worldHighDisplay(4)->value(), 812.0);
        QCOMPARE(s->worldHighDisplay(7)->value(), 42.0);
        QCOMPARE(s->holderPanel(4)->caption(), QStringLiteral("Ann Lee"));
        QCOMPARE(s->holderPanel(6)->caption(), QString());
        QVERIFY2(firstStatus.startsWith(QStringLiteral("Congratulations! New world record on 4 x 4 and 7 x 7.")),
                 qPrintable(firstStatus));
        QVERIFY(s->statusLine()->caption().contains(QStringLiteral("Your ranks: 4 x 4 1st of 1; 7 x 7 1st of 1.")));
        QVERIFY(service.gamePage().contains("Ann Lee"));
    }
};

QTEST_MAIN(TestExchange)
#include "test_exchange.moc"
