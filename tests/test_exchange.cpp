// The Update exchange of the summary window, against the real service and against a stub
// service whose replies the test chooses.

#include "testsupport.h"

#include "app/shell.h"
#include "scores/frmsum.h"
#include "scores/inet.h"
#include "scores/scorefile.h"
#include "server/scoreservice.h"
#include "ui/numled.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#ifndef Q_MOC_RUN
#include "game/module1.h"
#endif

using namespace zimble;

namespace {

// Answers every request with a chosen body after a chosen delay (negative: never), and records
// the request targets it saw.
class StubService : public QTcpServer {
public:
    QByteArray body = "x|1|2|3|4|a|b|c|d|ok";
    int delayMs = 0;
    QList<QByteArray> targets;

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
            targets.append(buffer->split(' ').value(1));
            if (delayMs < 0)
                return;
            QTimer::singleShot(delayMs, s, [this, s] {
                s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
                         + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                s->disconnectFromHost();
            });
        });
    }
};

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
    ui::NumLed m_gameLed;

    // A summary window over a score file holding these bests and this name.
    std::unique_ptr<frmSum> openSummary(const QString& host, std::array<double, 4> bests = {}, const QString& name = QStringLiteral("Ann"))
    {
        ScoreRecord r;
        for (int k = 0; k < 4; ++k)
            r.YourHigh[4 + k] = FixedPoint::fromDouble(bests[k]);
        r.PlayerName = fixedText(name);
        saveScores(scoreFileName(), r, nullptr);
        Module1::BoardSize = 4;
        m_gameLed.setValue(0);
        auto s = std::make_unique<frmSum>(&m_gameLed);
        s->setScoreHost(host);
        return s;
    }

    static QString hostOf(const QTcpServer& server) { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        setMessageHook([this](QWidget*, const QString& text) { m_messages.append(text); });
    }

    void init()
    {
        Module1::resetAll();
        m_messages.clear();
        QFile::remove(QStringLiteral("Scores.dat"));
    }

    void requestCarriesWholeBestsNameAndCheck()
    {
        StubService stub;
        auto s = openSummary(hostOf(stub), {120, 340, 0, 15.5});
        s->cmdUp(1)->click();
        QTRY_COMPARE(stub.targets.size(), 1);
        QCOMPARE(stub.targets[0], QByteArray("/zm2.asp?120&340&0&16&Ann&1324"));
        // Whole numbers in memory only: the file keeps 15.5.
        QTRY_VERIFY(!s->Inet1->StillExecuting());
        QCOMPARE(qFromLittleEndian<qint64>(readFile(QStringLiteral("Scores.dat")).constData() + 56), qint64(155000));

        auto t = openSummary(hostOf(stub), {2.5, 3.5, 0, 0}, QString());
        t->cmdUp(1)->click();
        QTRY_COMPARE(stub.targets.size(), 2);
        QCOMPARE(stub.targets[1], QByteArray("/zm2.asp?2&4&0&0&&16"));
    }

    void nameIsCleanedAndEncodedForHttp()
    {
        StubService stub;
        auto s = openSummary(hostOf(stub));
        s->Text1->setText(QString::fromUtf8("  A&B|C J\u00F6rg 100% #1  "));
        s->cmdUp(1)->click();
        QCOMPARE(s->Text1->text(), QString::fromUtf8("  A B C J\u00F6rg 100% #1  "));
        QTRY_COMPARE(stub.targets.size(), 1);
        QCOMPARE(stub.targets[0], QByteArray("/zm2.asp?0&0&0&0&A%20B%20C%20J%C3%B6rg%20100%25%20%231&0"));
    }

    void stateSequenceAndReplyApplied()
    {
        StubService stub;
        stub.body = "x|980|1410|2210|3305|Bo%20Kim|Ann%20Lee|Cy|Dee|Thank you";
        auto s = openSummary(hostOf(stub), {1, 2, 3, 4});
        QList<qint16> states;
        QStringList captions;
        connect(s->Inet1, &Inet::StateChanged, this, [&](qint16 st) {
            states.append(st);
            captions.append(s->SSPanel2(50)->caption());
        });
        s->cmdUp(1)->click();
        QTRY_VERIFY(states.contains(12) || states.contains(11));
        QCOMPARE(states.first(), qint16(1));
        QCOMPARE(states.last(), qint16(12));
        QCOMPARE(states.count(12) + states.count(11), 1);
        QVERIFY(std::is_sorted(states.begin(), states.end()));
        QVERIFY(states.contains(2) && states.contains(6) && states.contains(7) && states.contains(8));
        QCOMPARE(captions.first(), QStringLiteral("Looking up the IP address of the specified host computer."));
        QCOMPARE(captions[states.indexOf(2)], QString::fromUtf8("Successfully found the IP\u00A0address of the specified host computer"));
        QCOMPARE(captions[states.indexOf(8)], QString());
        QCOMPARE(s->SSPanel2(50)->caption(), QStringLiteral("Thank you"));
        QCOMPARE(s->LED(4)->value(), 980.0);
        QCOMPARE(s->LED(7)->value(), 3305.0);
        QCOMPARE(s->SSPanel2(0)->caption(), QStringLiteral("Bo Kim"));
        QCOMPARE(s->SSPanel2(1)->caption(), QStringLiteral("Ann Lee"));
        const QByteArray file = readFile(QStringLiteral("Scores.dat"));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 120), qint64(9800000));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 144), qint64(33050000));
        QCOMPARE(file.mid(376, 50), QByteArray("Bo Kim").leftJustified(50, ' '));
        QCOMPARE(file.mid(526, 50), QByteArray("Dee").leftJustified(50, ' '));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 32), qint64(10000)); // the best is left as it was
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
        s->cmdUp(1)->click();
        QTRY_VERIFY(!s->Inet1->StillExecuting());
        QCOMPARE(s->SSPanel2(0)->caption(), QStringLiteral("Very ") + QString(60, QLatin1Char('L')));
        QVERIFY(s->SSPanel2(50)->caption().endsWith(QStringLiteral("mmmEND")));
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
            s->cmdUp(1)->click();
            QTRY_VERIFY(!s->Inet1->StillExecuting());
            QCOMPARE(readFile(QStringLiteral("Scores.dat")), before);
            QVERIFY(s->SSPanel2(50)->caption().contains(QStringLiteral("could not be understood")));
            QCOMPARE(s->LED(4)->value(), 0.0);
            QCOMPARE(s->SSPanel2(0)->caption(), QString());
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
        QList<qint16> states;
        connect(s->Inet1, &Inet::StateChanged, this, [&](qint16 st) { states.append(st); });
        const QByteArray before = readFile(QStringLiteral("Scores.dat"));
        s->cmdUp(1)->click();
        QTRY_VERIFY(states.contains(11));
        QCOMPARE(states.count(11), 1);
        QVERIFY(!states.contains(12));
        QVERIFY2(s->SSPanel2(50)->caption().startsWith(QString::number(s->Inet1->ResponseCode()) + QStringLiteral(": ")),
                 qPrintable(s->SSPanel2(50)->caption()));
        QVERIFY(s->SSPanel2(50)->caption().contains(QStringLiteral("refused"), Qt::CaseInsensitive));
        QCOMPARE(readFile(QStringLiteral("Scores.dat")), before);

        StubService silent;
        silent.delayMs = -1;
        auto t = openSummary(hostOf(silent));
        t->Inet1->setTimeoutMs(300);
        t->cmdUp(1)->click();
        QTRY_VERIFY(!t->Inet1->StillExecuting());
        QVERIFY2(t->SSPanel2(50)->caption().contains(QStringLiteral("did not answer")), qPrintable(t->SSPanel2(50)->caption()));
    }

    void oneTransferAtATime()
    {
        StubService slow;
        slow.delayMs = 300;
        auto s = openSummary(hostOf(slow));
        s->cmdUp(1)->click();
        s->cmdUp(1)->click();
        QTRY_VERIFY(!s->Inet1->StillExecuting());
        QCOMPARE(slow.targets.size(), 1);
    }

    void closingAbandonsTheTransfer()
    {
        StubService slow;
        slow.delayMs = 200;
        slow.body = "x|999|999|999|999|Late|Late|Late|Late|too late";
        QList<qint16> states;
        {
            auto s = openSummary(hostOf(slow));
            connect(s->Inet1, &Inet::StateChanged, this, [&](qint16 st) { states.append(st); });
            s->Text1->setText(QStringLiteral("Leaver"));
            s->cmdUp(1)->click();
            QTRY_COMPARE(slow.targets.size(), 1);
            s->cmdExit(0)->click();
        }
        QTest::qWait(400);
        QVERIFY(!states.contains(12));
        const QByteArray file = readFile(QStringLiteral("Scores.dat"));
        QCOMPARE(qFromLittleEndian<qint64>(file.constData() + 120), qint64(0));
        QCOMPARE(file.mid(726, 6), QByteArray("Leaver"));
    }

    void againstTheRealService()
    {
        server::ScoreService service({m_dir.filePath(QStringLiteral("real.sqlite")), 0, false});
        const quint16 port = service.listenOn(QHostAddress::LocalHost, 0);
        QVERIFY(port);
        auto s = openSummary(QStringLiteral("127.0.0.1:%1").arg(port), {812.5, 0, 0, 42}, QStringLiteral("Ann Lee"));
        s->cmdUp(1)->click();
        QTRY_VERIFY(!s->Inet1->StillExecuting());
        QCOMPARE(s->LED(4)->value(), 812.0);
        QCOMPARE(s->LED(7)->value(), 42.0);
        QCOMPARE(s->SSPanel2(0)->caption(), QStringLiteral("Ann Lee"));
        QCOMPARE(s->SSPanel2(2)->caption(), QString());
        QVERIFY(s->SSPanel2(50)->caption().startsWith(QStringLiteral("Congratulations, Ann Lee!")));
        QVERIFY(service.gamePage().contains("Ann Lee"));
    }
};

QTEST_MAIN(TestExchange)
#include "test_exchange.moc"
