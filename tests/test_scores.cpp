// The score file and the summary window.

#include "testsupport.h"

#include "app/session.h"
#include "app/summarywindow.h"
#include "scores/codepage.h"
#include "scores/exchange.h"
#include "scores/httptransfer.h"
#include "scores/replayfile.h"
#include "scores/scorefile.h"
#include "ui/leddisplay.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/stat.h>


using namespace zimble;
using namespace zimble::ui;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

qint64 numberAt(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<qint64>(bytes.constData() + offset);
}

} // namespace

class TestScores : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_messages;
    Session m_session;
    QString m_file;

    // Shows the summary window for a game that scored `score` on a board of `size`, then closes it
    // after `edit` ran on it.
    void playSummary(double score, int size, const std::function<void(SummaryWindow&)>& edit = {},
                     std::optional<GameReplay> replay = std::nullopt)
    {
        SummaryWindow sum(m_session, score, size, replay);
        if (edit)
            edit(sum);
        sum.exitButton()->click(); // unloads once, however often the window is closed
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_file = m_dir.filePath(QStringLiteral("Scores.dat"));
        m_session.setMessageHandler([this](QWidget*, const QString& text) { m_messages.append(text); });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void init()
    {
        m_session.setDataDir(QString());
        m_session.scores() = ScoreRecord();
        m_messages.clear();
        QFile::remove(m_file);
        QFile::remove(m_session.replayFileName());
    }

    void recordBytesAreExact()
    {
        ScoreRecord r;
        r.bests[4] = FixedPoint::fromInt(1234);
        r.bests[7] = FixedPoint::fromDouble(-0.5);
        r.worldHighs[5] = FixedPoint::fromInt(980);
        r.holders[6] = fixedText(QStringLiteral("Bo Kim"));
        r.playerName = fixedText(QStringLiteral("Ann"));
        const QByteArray b = encodeRecord(r);
        QCOMPARE(b.size(), 776);
        QCOMPARE(b.mid(32, 8), QByteArray::fromHex("204BBC0000000000"));
        QCOMPARE(numberAt(b, 56), qint64(-5000));
        QCOMPARE(numberAt(b, 128), qint64(9800000));
        QCOMPARE(b.mid(476, 50), QByteArray("Bo Kim") + QByteArray(44, ' '));
        QCOMPARE(b.mid(376, 50), QByteArray(50, '\0')); // a text never filled stays NUL bytes
        QCOMPARE(b.mid(726, 50), QByteArray("Ann") + QByteArray(47, ' '));
        const ScoreRecord back = decodeRecord(b);
        QCOMPARE(back.bests[4].raw(), 12340000);
        QCOMPARE(back.holders[6], fixedText(QStringLiteral("Bo Kim")));
        QCOMPARE(encodeRecord(back), b);
    }

    void fixedTextsAreFiftyCharacters()
    {
        const QString sixty = QString(60, QLatin1Char('x'));
        QCOMPARE(fixedText(sixty), QString(50, QLatin1Char('x')));
        QCOMPARE(fixedText(QStringLiteral("ab")), QStringLiteral("ab") + QString(48, QLatin1Char(' ')));
        // A character outside the basic plane is one character, not two.
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        QCOMPARE(toCp1252(fixedText(emoji + QString(60, QLatin1Char('y')))).size(), 50);
        QCOMPARE(shownText(QStringLiteral("  Ann Lee  ")), QStringLiteral("Ann Lee"));
        QCOMPARE(shownText(QString(50, QChar(0))), QString());
        QCOMPARE(shownText(QStringLiteral("\tTab ")), QStringLiteral("\tTab"));
    }

    void windows1252()
    {
        QCOMPARE(toCp1252(QString::fromUtf8("\u20AC\u00E9\u2019A")), QByteArray("\x80\xE9\x92" "A"));
        QCOMPARE(toCp1252(QString::fromUtf8("\u0416")), QByteArray("?"));
        QCOMPARE(toCp1252(QString::fromUtf8("\xF0\x9F\x98\x80")), QByteArray("?"));
        // A pair between letters is one '?'; a lone surrogate is one '?' and takes nothing after it.
        QCOMPARE(toCp1252(QString::fromUtf8("a\xF0\x9F\x98\x80\xC3\xA9")), QByteArray("a?\xE9"));
        QCOMPARE(toCp1252(QString(QChar(0xD83D)) + QStringLiteral("Ab") + QChar(0xDE00)), QByteArray("?Ab?"));
        QCOMPARE(fromCp1252(QByteArray("\x80\xE9\x9F")), QString::fromUtf8("\u20AC\u00E9\u0178"));
        // Every byte survives a round trip.
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QCOMPARE(toCp1252(fromCp1252(all)), all);
        // 0x80 to 0x9F as the published Windows-1252 table has them; its five unassigned bytes
        // stand for the C1 controls of the same value.
        const char16_t published[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        for (int b = 0x80; b <= 0x9F; ++b)
            QCOMPARE(fromCp1252(QByteArray(1, char(b))), QString(QChar(published[b - 0x80])));
    }

    void absentFileIsCreatedEmpty()
    {
        ScoreRecord r;
        r.bests[4] = FixedPoint::fromInt(5);
        QString error;
        QVERIFY(loadScores(m_file, r, &error));
        QVERIFY(QFile::exists(m_file));
        QCOMPARE(QFileInfo(m_file).size(), 0);
        QCOMPARE(r.bests[4].raw(), 0);
        QCOMPARE(r.playerName.at(0), QChar(0));
    }

    void shortFileReadsAsZerosForTheRest()
    {
        QByteArray bytes = encodeRecord([] {
            ScoreRecord r;
            r.bests[4] = FixedPoint::fromInt(77);
            r.playerName = fixedText(QStringLiteral("Zed"));
            return r;
        }());
        writeAll(m_file, bytes.left(100));
        ScoreRecord r;
        QVERIFY(loadScores(m_file, r, nullptr));
        QCOMPARE(r.bests[4].raw(), 770000);
        QCOMPARE(r.playerName, QString(50, QChar(0)));
    }

    void valuesTheGameNeverWrites_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("damage"); // empty: a file the game can write, read without a word
        QTest::addColumn<QString>("reset");  // the values the message says were reset
        auto record = [](const std::function<void(ScoreRecord&)>& edit) {
            ScoreRecord r;
            edit(r);
            return encodeRecord(r);
        };
        auto patched = [](QByteArray b, int offset, const QByteArray& with) { return b.replace(offset, with.size(), with); };
        QByteArray upperHalf; // every byte of 0x80 to 0xFF that stands for a character
        for (int b = 0x80; b <= 0xFF; ++b) {
            if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
                upperHalf.append(char(b));
        }
        // More than a 7 x 7 game can reach: every equal pair a run of 196, the fastest play.
        const double unreachable = 10.0 * (196 + 2 * 294 * 196.0 * 196) * (0.8 + 0.3 / 0.7) / 4;

        QTest::newRow("all zero, as first created") << QByteArray(776, '\0') << QString() << QString();
        QTest::newRow("edge values the game writes") << record([&](ScoreRecord& r) {
            r.bests[4] = FixedPoint::fromInt(0);
            r.bests[7] = FixedPoint::fromDouble(unreachable);
            r.worldHighs[7] = FixedPoint::fromInt(MaxShownScore);
            r.worldHighs[5] = FixedPoint::fromDouble(MaxShownScore + 0.4999);
            for (int board = 4; board <= 7; ++board)
                r.holders[board] = fixedText(QString(50, QChar(u'A' + board)));
            r.playerName = fixedText(QString(50, QChar(u'\u00FF')));
        }) << QString() << QString();
        QTest::newRow("the code page's upper half") << record([&](ScoreRecord& r) {
            r.playerName = fromCp1252(upperHalf.left(50));
            r.holders[4] = fromCp1252(upperHalf.mid(50, 50));
            r.holders[7] = fixedText(fromCp1252(upperHalf.mid(100)));
        }) << QString() << QString();
        QTest::newRow("a name padded with NULs") << patched(QByteArray(776, '\0'), 726, "Ann") << QString() << QString();
        QTest::newRow("a short file") << record([](ScoreRecord& r) { r.bests[4] = FixedPoint::fromInt(9); }).left(100)
                                      << QString() << QString();
        QTest::newRow("unused slots hold anything") << patched(patched(QByteArray(776, '\0'), 0, QByteArray(32, '\xFF')), 176, "\x01\x02")
                                                    << QString() << QString();
        QTest::newRow("a negative best, with a tail")
            << record([](ScoreRecord& r) { r.bests[5] = FixedPoint::fromRaw(-1); }) + QByteArray("tail\x00\x01", 6)
            << "the 5 x 5 best is negative" << "reset the 5 x 5 best and kept";
        QTest::newRow("a 7 x 7 best past the displays")
            << record([](ScoreRecord& r) { r.bests[7] = FixedPoint::fromDouble(MaxShownScore + 0.5); })
            << "the 7 x 7 best is larger than the displays can show" << "reset the 7 x 7 best and kept";
        QTest::newRow("a negative world high") << record([](ScoreRecord& r) { r.worldHighs[4] = FixedPoint::fromInt(-5); })
                                               << "the 4 x 4 world high is negative" << "reset the 4 x 4 world high and";
        // Everything sound stays: bests, world highs, holders and the name around a damaged best.
        const auto wellKept = [](ScoreRecord& r) {
            r.bests[5] = FixedPoint::fromDouble(812.5);
            r.bests[6] = FixedPoint::fromInt(1410);
            for (int board = 4; board <= 7; ++board) {
                r.worldHighs[board] = FixedPoint::fromInt(1000 * board);
                r.holders[board] = fixedText(QStringLiteral("Holder %1").arg(board));
            }
            r.playerName = fixedText(QStringLiteral("Ann Lee"));
        };
        QTest::newRow("a negative 4 x 4 best among sound values") << record([&](ScoreRecord& r) {
            wellKept(r);
            r.bests[4] = FixedPoint::fromInt(-5);
        }) << "the 4 x 4 best is negative" << "reset the 4 x 4 best and kept every other value";
        QTest::newRow("two damaged values among sound ones") << record([&](ScoreRecord& r) {
            wellKept(r);
            r.worldHighs[6] = FixedPoint::fromInt(-1);
            r.holders[7] = fixedText(QStringLiteral("Dee\x1B"));
        }) << "the 6 x 6 world high is negative; the 7 x 7 record holder's name holds control characters"
           << "reset the 6 x 6 world high and the 7 x 7 record holder's name and kept";
        QTest::newRow("a tab in a holder") << record([](ScoreRecord& r) { r.holders[6] = fixedText(QStringLiteral("Bo\tKim")); })
                                           << "the 6 x 6 record holder's name holds control characters"
                                           << "reset the 6 x 6 record holder's name and";
        QTest::newRow("DEL in a holder") << patched(QByteArray(776, '\0'), 526, "Dee\x7F") << "the 7 x 7 record holder's name" << "reset the 7 x 7 record holder's name and";
        QTest::newRow("a NUL before the name") << patched(QByteArray(776, '\0'), 727, "Ann") << "your name holds control characters" << "reset your name and";
        QTest::newRow("an unassigned code-page byte") << patched(QByteArray(776, '\0'), 726, "A\x81") << "your name" << "reset your name and";
    }

    void valuesTheGameNeverWrites()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, damage);
        QFETCH(QString, reset);
        writeAll(m_file, bytes);
        const QDir dir(m_dir.path());
        for (const QString& old : dir.entryList({QStringLiteral("Scores.dat.damaged-*")}))
            QVERIFY(QFile::remove(dir.filePath(old)));
        QString headline;
        double best4 = -1;
        playSummary(3, 4, [&](SummaryWindow& s) { best4 = s.bestDisplay(4)->value(); });
        const QStringList copies = dir.entryList({QStringLiteral("Scores.dat.damaged-*")});
        const QByteArray after = readAll(m_file);
        if (damage.isEmpty()) {
            QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.value(0)));
            QVERIFY(copies.isEmpty());
            QCOMPARE(after.left(32), bytes.left(32)); // what the game does not use is as it was
            QCOMPARE(after.mid(176, 200), bytes.leftJustified(776, '\0').mid(176, 200));
            return;
        }
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(m_file) && m_messages.first().contains(damage), qPrintable(m_messages.first()));
        QVERIFY2(m_messages.first().contains(QStringLiteral("The game ") + reset), qPrintable(m_messages.first()));
        QCOMPARE(copies.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^Scores\\.dat\\.damaged-\\d{8}-\\d{6}$")).match(copies.first()).hasMatch());
        QVERIFY(m_messages.first().contains(dir.filePath(copies.first())));
        QCOMPARE(readAll(dir.filePath(copies.first())), bytes); // copied before the first save
        // Only the damaged values are reset; every sound one is kept, and so is the tail. This
        // game's 3 is the 4 x 4 best where none higher is kept.
        const ScoreRecord was = decodeRecord(bytes);
        const ScoreRecord now = decodeRecord(after);
        const QStringList damaged = damage.split(QStringLiteral("; "));
        auto isDamaged = [&](const QString& what) {
            return std::any_of(damaged.begin(), damaged.end(), [&](const QString& d) { return d.startsWith(what); });
        };
        for (int board = 4; board <= 7; ++board) {
            const QString b = QStringLiteral("the %1 x %1 ").arg(board);
            const FixedPoint best = isDamaged(b + QStringLiteral("best")) ? FixedPoint() : was.bests[board];
            QCOMPARE(now.bests[board].raw(), (board == 4 ? std::max(best, FixedPoint::fromInt(3)) : best).raw());
            QCOMPARE(now.worldHighs[board].raw(),
                     (isDamaged(b + QStringLiteral("world high")) ? FixedPoint() : was.worldHighs[board]).raw());
            // A reset holder reads as never filled: NUL bytes, an empty panel.
            QCOMPARE(now.holders[board], isDamaged(b + QStringLiteral("record holder")) ? QString(50, QChar(0)) : was.holders[board]);
        }
        QCOMPARE(best4, now.bests[4].toDouble());
        const bool nameSet = !isDamaged(QStringLiteral("your name")) && was.playerName.at(0) != QChar(0);
        const QString name = nameSet ? shownText(was.playerName) : QStringLiteral("Enter your name here");
        QCOMPARE(after.mid(726), fixedText(name).toLatin1() + bytes.mid(776));
        // Never over an earlier copy.
        const QDateTime when(QDate(2026, 12, 7), QTime(20, 45, 0));
        QString error;
        const QString first = keepDamagedCopy(m_file, when, &error);
        const QString second = keepDamagedCopy(m_file, when, &error);
        QCOMPARE(first, m_file + QStringLiteral(".damaged-20261207-204500"));
        QCOMPARE(second, first + QStringLiteral("-2"));
        QCOMPARE(readAll(first), after);
        // The next game finds nothing wrong.
        m_messages.clear();
        playSummary(1, 4);
        QVERIFY(m_messages.isEmpty());
    }

    void longerFileKeepsItsTail()
    {
        const QByteArray tail = QByteArray("TRAILING\x00\xFF data", 15);
        writeAll(m_file, QByteArray(776, '\0') + tail);
        ScoreRecord r;
        QVERIFY(loadScores(m_file, r, nullptr));
        r.playerName = fixedText(QStringLiteral("Kept"));
        QVERIFY(saveScores(m_file, r, nullptr));
        const QByteArray after = readAll(m_file);
        QCOMPARE(after.size(), 776 + tail.size());
        QCOMPARE(after.mid(776), tail);
        QCOMPARE(after.mid(726, 4), QByteArray("Kept"));
    }

    void interruptedSavesLeaveAWholeRecord()
    {
        ScoreRecord a, b;
        a.playerName = fixedText(QStringLiteral("Alpha"));
        a.bests[4] = FixedPoint::fromInt(111);
        b.playerName = fixedText(QStringLiteral("Bravo"));
        b.bests[7] = FixedPoint::fromInt(999);
        const QByteArray tail("-tail-");
        writeAll(m_file, encodeRecord(a) + tail);
        const QByteArray recordA = encodeRecord(a) + tail, recordB = encodeRecord(b) + tail;
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(ZIMBLE_BINARY_DIR "/tests/scorefile_writer"), {m_file});
            QVERIFY(writer.waitForStarted());
            QVERIFY(writer.waitForReadyRead(5000));
            QTest::qSleep(5 + QRandomGenerator::global()->bounded(40));
            writer.kill();
            QVERIFY(writer.waitForFinished());
            const QByteArray now = readAll(m_file);
            QVERIFY2(now == recordA || now == recordB, qPrintable(QStringLiteral("round %1: %2 bytes").arg(round).arg(now.size())));
        }
    }

    void unusableFileIsReportedAndNothingIsLost()
    {
        // The score file's name is taken by a directory.
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("Scores.dat")));
        ScoreRecord r;
        QString error;
        QVERIFY(!loadScores(m_file, r, &error));
        QVERIFY(error.contains(m_file));
        QVERIFY(!saveScores(m_file, r, &error));
        playSummary(50, 4);
        QCOMPARE(m_messages.size(), 1); // told once, though loading and saving both failed
        QVERIFY(m_messages.first().contains(QStringLiteral("Scores.dat")));
        QVERIFY(QFileInfo(m_file).isDir());
        QVERIFY(QDir(m_dir.path()).rmdir(QStringLiteral("Scores.dat")));

        // A data directory that does not exist.
        m_messages.clear();
        m_session.setDataDir(m_dir.path() + QStringLiteral("/missing/"));
        playSummary(50, 4);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains(QStringLiteral("missing/Scores.dat")));
        QVERIFY(!QFileInfo::exists(m_dir.path() + QStringLiteral("/missing")));
    }

    void onlyRegularFilesAreUsed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("fifo") << "fifo" << "not a regular file";
        QTest::newRow("link to /dev/zero") << "/dev/zero" << "not a regular file";
        QTest::newRow("link to /dev/urandom") << "/dev/urandom" << "not a regular file";
        QTest::newRow("link to /dev/null") << "/dev/null" << "not a regular file";
        QTest::newRow("socket") << "socket" << "not a regular file";
        QTest::newRow("dangling link") << "dangling" << "link to nothing";
        QTest::newRow("beyond the size limit") << "huge" << "larger than 256 MiB";
    }

    // Special files are refused at once with the same kind of message as an unreadable file, and
    // are neither read without end, nor waited on, nor replaced.
    void onlyRegularFilesAreUsed()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QLocalServer socketServer;
        const QByteArray path = QFile::encodeName(m_file);
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        } else if (kind == QLatin1String("socket")) {
            QVERIFY(socketServer.listen(m_file));
        } else if (kind == QLatin1String("dangling")) {
            QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), m_file));
        } else if (kind == QLatin1String("huge")) {
            QFile f(m_file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(MaxScoreFileSize + 1)); // sparse: no disk space used
        } else {
            QVERIFY(QFile::link(kind, m_file));
        }
        const QFileInfo before(m_file);
        ScoreRecord r;
        QString error;
        QVERIFY(!loadScores(m_file, r, &error));
        QVERIFY2(error.contains(QStringLiteral("could not be read")) && error.contains(reason), qPrintable(error));
        QVERIFY(!saveScores(m_file, r, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        playSummary(50, 4);
        QCOMPARE(m_messages.size(), 1);
        const QFileInfo after(m_file);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.symLinkTarget(), before.symLinkTarget());
        QCOMPARE(after.isFile(), before.isFile());
        QCOMPARE(after.size(), before.size());
        socketServer.close();
        QFile::remove(m_file);
    }

    void linkToARegularFileIsFollowed()
    {
        const QString target = m_dir.filePath(QStringLiteral("real-scores.dat"));
        QFile::remove(target);
        writeAll(target, QByteArray(776, '\0'));
        QVERIFY(QFile::link(target, m_file));
        playSummary(321, 5);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(QFileInfo(m_file).isSymLink());
        QCOMPARE(numberAt(readAll(target), 40), qint64(3210000));
        QFile::remove(m_file);
        QFile::remove(target);
    }

    void firstGameCreatesTheFile()
    {
        QString headline, box, status;
        QList<double> leds;
        QStringList holders;
        playSummary(1234, 5, [&](SummaryWindow& s) {
            headline = s.headline()->caption();
            box = s.nameEdit()->text();
            status = s.statusLine()->caption();
            for (int board = 4; board <= 7; ++board)
                leds << s.bestDisplay(board)->value();
            for (int board = 4; board <= 7; ++board)
                leds << s.worldHighDisplay(board)->value();
            for (int k = 0; k < 4; ++k)
                holders << s.holderPanel(4 + k)->caption();
            QCOMPARE(s.windowTitle(), QStringLiteral("Zimble ZQ Summary"));
        });
        QCOMPARE(headline, QStringLiteral("You scored a ZQ of 1,234"));
        QCOMPARE(box, QStringLiteral("Enter your name here"));
        QVERIFY(status.isEmpty());
        QCOMPARE(leds, (QList<double>{0, 1234, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(holders, (QStringList{QString(), QString(), QString(), QString()}));
        const QByteArray b = readAll(m_file);
        QCOMPARE(b.size(), 776);
        QCOMPARE(numberAt(b, 40), qint64(12340000));
        QCOMPARE(b.mid(176, 550), QByteArray(550, '\0'));
        QCOMPARE(b.mid(726), QByteArray("Enter your name here") + QByteArray(30, ' '));
    }

    void bestIsKeptOnlyWhenStrictlyHigher_data()
    {
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("offset"); // of the board's best in the file
        for (int board = 4; board <= 7; ++board)
            QTest::addRow("%d x %d", board, board) << board << 32 + 8 * (board - 4);
    }

    void bestIsKeptOnlyWhenStrictlyHigher()
    {
        QFETCH(int, board);
        QFETCH(int, offset);
        playSummary(0, board);
        QCOMPARE(numberAt(readAll(m_file), offset), qint64(0));
        playSummary(-3, board);
        QCOMPARE(numberAt(readAll(m_file), offset), qint64(0));
        playSummary(812.5, board);
        QCOMPARE(numberAt(readAll(m_file), offset), qint64(8125000));
        QString headline;
        playSummary(812.5, board, [&](SummaryWindow& s) { headline = s.headline()->caption(); });
        QCOMPARE(headline, QStringLiteral("You scored a ZQ of 813"));
        playSummary(700, board);
        QCOMPARE(numberAt(readAll(m_file), offset), qint64(8125000));
        const QByteArray bests = readAll(m_file).mid(32, 32);
        QCOMPARE(bests.count('\0'), 32 - 3); // no other board's best moved (812.5 takes three bytes)
    }

    void scoreLineFormats()
    {
        QCOMPARE(SummaryWindow::scoreLine(1234567), QStringLiteral("You scored a ZQ of 1,234,567"));
        QCOMPARE(SummaryWindow::scoreLine(0), QStringLiteral("You scored a ZQ of 0"));
        QCOMPARE(SummaryWindow::scoreLine(2.5), QStringLiteral("You scored a ZQ of 3"));
        QCOMPARE(SummaryWindow::scoreLine(-2.5), QStringLiteral("You scored a ZQ of -3"));
        QCOMPARE(SummaryWindow::scoreLine(0.4999), QStringLiteral("You scored a ZQ of 0"));
    }

    void namesAreCleanedCutAndKept()
    {
        QString shown;
        playSummary(1, 4, [&](SummaryWindow& s) { s.nameEdit()->setText(QStringLiteral("A|B<C>D&E,F")); });
        QCOMPARE(readAll(m_file).mid(726, 11), QByteArray("A B C D E F"));
        playSummary(1, 4, [&](SummaryWindow& s) {
            shown = s.nameEdit()->text();
            s.nameEdit()->setText(QStringLiteral("  ") + QString(58, QLatin1Char('n')));
        });
        QCOMPARE(shown, QStringLiteral("A B C D E F"));
        QCOMPARE(readAll(m_file).mid(726), QByteArray("  ") + QByteArray(48, 'n'));
        playSummary(1, 4, [&](SummaryWindow& s) {
            shown = s.nameEdit()->text();
            s.nameEdit()->clear();
        });
        QCOMPARE(shown, QString(48, QLatin1Char('n')));
        QCOMPARE(readAll(m_file).mid(726), QByteArray(50, ' '));
        // Only a NUL first character brings back the default name.
        playSummary(1, 4, [&](SummaryWindow& s) { shown = s.nameEdit()->text(); });
        QCOMPARE(shown, QString());
    }

    void everyWayOfClosingStoresTheName()
    {
        {
            SummaryWindow s(m_session, 0, 4);
            s.show();
            s.nameEdit()->setText(QStringLiteral("Closed by box"));
            s.close();
        }
        QCOMPARE(readAll(m_file).mid(726, 13), QByteArray("Closed by box"));
        {
            SummaryWindow s(m_session, 0, 4);
            s.show();
            s.nameEdit()->setText(QString::fromUtf8("Esc \u00E9\u0416"));
            QTest::keyClick(&s, Qt::Key_Escape);
        }
        QCOMPARE(readAll(m_file).mid(726, 7), QByteArray("Esc \xE9? "));
        {
            // From the keyboard alone: Tab and Shift+Tab walk the bottom row as it stands on screen
            // (name box, Web Page, Update, Exit), starting at Update; Alt+X leaves.
            SummaryWindow s(m_session, 0, 4);
            s.show();
            QVERIFY(QTest::qWaitForWindowActive(&s));
            QCOMPARE(QApplication::focusWidget(), s.updateButton());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), s.exitButton());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), s.nameEdit());
            QTest::keyClick(s.nameEdit(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(s.nameEdit(), QStringLiteral("Keys"));
            QTest::keyClick(s.nameEdit(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), s.webPageButton());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), s.updateButton());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), s.webPageButton());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), s.nameEdit());
            QTest::keyClick(s.nameEdit(), Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), s.exitButton());
            QTest::keyClick(s.exitButton(), Qt::Key_X, Qt::AltModifier);
            QTRY_VERIFY(!s.isVisible());
        }
        QCOMPARE(readAll(m_file).mid(726, 5), QByteArray("Keys "));
    }

    void otherSlotsSurviveEverySave()
    {
        QByteArray bytes(776, '\0');
        for (int i = 0; i < 776; ++i)
            bytes[i] = char(QRandomGenerator::global()->bounded(256));
        // What the game uses holds what it could have written; the 6 x 6 best is 0, so the game's score beats it.
        bytes.replace(32, 32, QByteArray::fromHex("0100000000000000020000000000000000000000000000000300000000000000"));
        bytes.replace(120, 32, QByteArray::fromHex("0700000000000000").repeated(4));
        bytes.replace(376, 200, QByteArray(200, 'h'));
        bytes.replace(726, 50, QByteArray(50, 'n'));
        writeAll(m_file, bytes);
        playSummary(123456.5, 6, [](SummaryWindow& s) { s.nameEdit()->setText(QStringLiteral("Someone")); });
        const QByteArray after = readAll(m_file);
        auto untouched = [](const QByteArray& b) {
            QByteArray kept;
            for (int base : {0, 88}) {
                kept += b.mid(base, 32);      // indices 0 to 3
                kept += b.mid(base + 64, 24); // indices 8 to 10
            }
            kept += b.mid(176, 200) + b.mid(576, 150);
            return kept;
        };
        QCOMPARE(untouched(after), untouched(bytes));
        QCOMPARE(numberAt(after, 48), qint64(1234565000));
        QCOMPARE(after.mid(0, 48).mid(32), bytes.mid(32, 16)); // sizes 4 and 5 untouched
    }

    void replayFileRoundTripAndDamage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason"); // empty: readable
        QTest::newRow("two boards") << QByteArray("Zimble replays, version 1\n4 3 AAAAB\n7 0 wvu\n") << QString();
        QTest::newRow("no replays yet") << QByteArray("Zimble replays, version 1\n") << QString();
        QTest::newRow("a clock at each click") << QByteArray("Zimble replays, version 2\n4 3 AAAAB 00102\n7 0 wvu\n") << QString();
        // Every board played to its end, each click after a long wait: the longest file the game writes.
        QByteArray full("Zimble replays, version 2\n");
        for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
            const int clicks = 4 * board * board;
            std::vector<std::int32_t> tiles;
            for (int k = 0; k < clicks; ++k)
                tiles.push_back(k % (board * board));
            full += QByteArray::number(board) + ' ' + QByteArray::number(clicks * 100000) + ' ' + encodeClicks(tiles).toLatin1()
                + ' ' + QByteArray("baaaa0").repeated(clicks) + '\n';
        }
        QTest::newRow("every board played to its end") << full << QString();
        QTest::newRow("a newer version") << QByteArray("Zimble replays, version 3\n4 0 A\n") << "of version 3";
        QTest::newRow("more clocks than clicks") << QByteArray("Zimble replays, version 2\n4 0 A 00\n") << "line 2 is damaged";
        QTest::newRow("a click without its clock") << QByteArray("Zimble replays, version 2\n4 0 AB 0\n") << "line 2 is damaged";
        QTest::newRow("a clock step never ended") << QByteArray("Zimble replays, version 2\n4 0 A b\n") << "line 2 is damaged";
        QTest::newRow("clocks in a version-1 file") << QByteArray("Zimble replays, version 1\n4 0 A 0\n") << "line 2 is damaged";
        QTest::newRow("version 0") << QByteArray("Zimble replays, version 0\n4 0 A\n") << "of version 0";
        QTest::newRow("not a replay file") << QByteArray("\x89PNG\r\n") << "not a replay file";
        QTest::newRow("empty") << QByteArray() << "not a replay file";
        QTest::newRow("letter outside the alphabet") << QByteArray("Zimble replays, version 1\n4 0 AB!\n") << "line 2 is damaged";
        QTest::newRow("board of 9") << QByteArray("Zimble replays, version 1\n9 0 A\n") << "line 2 is damaged";
        QTest::newRow("negative cycles") << QByteArray("Zimble replays, version 1\n4 -1 A\n") << "line 2 is damaged";
        QTest::newRow("board twice") << QByteArray("Zimble replays, version 1\n4 0 A\n4 1 B\n") << "line 3 is damaged";
        QTest::newRow("missing clicks") << QByteArray("Zimble replays, version 1\n5 0\n") << "line 2 is damaged";
    }

    void replayFileRoundTripAndDamage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString file = m_session.replayFileName();
        writeAll(file, bytes);
        ReplayRecord r;
        QString error;
        const bool ok = loadReplays(file, r, &error);
        QCOMPARE(ok, reason.isEmpty());
        if (!ok) {
            QVERIFY2(error.contains(reason) && error.contains(QStringLiteral("Replays.dat")), qPrintable(error));
            return;
        }
        // Every replay the game kept is one the service verifies, and four times the longest
        // file still fits.
        QVERIFY(bytes.size() * 4 < MaxReplayFileSize);
        for (const std::optional<GameReplay>& kept : r.byBoard) {
            if (kept)
                QCOMPARE(verifyReplay(*kept, toInt32HalfEven(kept->score().toDouble())), ReplayVerdict::Verified);
        }
        QVERIFY(saveReplays(file, r, &error));
        // Written back byte for byte, a version-1 file as version 2.
        QCOMPARE(readAll(file), QByteArray(bytes).replace("version 1\n", "version 2\n"));
    }

    void summaryKeepsTheReplayOfANewBest()
    {
        GameReplay game{5, 2, {0, 0, 1, 2, 24, 24}, {}};
        const double score = game.score().toDouble();
        playSummary(score, 5, {}, game);
        ReplayRecord kept;
        QVERIFY(loadReplays(m_session.replayFileName(), kept, nullptr));
        QVERIFY(kept.byBoard[5]);
        QCOMPARE(kept.byBoard[5]->clicks, game.clicks);
        QCOMPARE(kept.byBoard[5]->clockCycles, 2);
        // An equal or lower score, or a replay that does not give the score, keeps what is there.
        GameReplay other{5, 0, {3, 3}, {}};
        playSummary(score, 5, {}, other);
        playSummary(other.score().toDouble(), 5, {}, other);
        playSummary(score + 100, 5, {}, other);
        QVERIFY(loadReplays(m_session.replayFileName(), kept, nullptr));
        QCOMPARE(kept.byBoard[5]->clicks, game.clicks);
        QVERIFY(!kept.byBoard[4]);
        QVERIFY(m_messages.isEmpty());
        // An unreadable replay file is reported once and left alone.
        writeAll(m_session.replayFileName(), "Zimble replays, version 7\n");
        GameReplay better{5, 0, {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2}, {}};
        playSummary(better.score().toDouble() + 1000, 6, {}, GameReplay{6, 0, {0, 0, 0, 0}, {}});
        QCOMPARE(m_messages.size(), 0); // no new best with a matching replay: the file is not touched
        m_session.scores() = ScoreRecord();
        QFile::remove(m_file);
        playSummary(better.score().toDouble(), 5, {}, better);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains(QStringLiteral("version 7")), qPrintable(m_messages.first()));
        QCOMPARE(readAll(m_session.replayFileName()), QByteArray("Zimble replays, version 7\n"));
    }

    void updateRefusesTheDefaultName()
    {
        playSummary(10, 4, [&](SummaryWindow& s) {
            s.nameEdit()->setText(QStringLiteral("  Enter your name here "));
            s.updateButton()->click();
            QVERIFY(!s.transfer()->isRunning());
        });
        QCOMPARE(m_messages, QStringList{QStringLiteral(
                                 "Enter a name in the Name field at the lower left and click UPDATE again. This name will "
                                 "be used if your ZQ is higher than any previously recorded ZQ.")});
    }

    void requestTargetsAndReplies()
    {
        QCOMPARE(requestTarget({120, 340, 0, 16}, QStringLiteral("Ann")), QStringLiteral("/zm2.asp?120&340&0&16&Ann&1324"));
        QCOMPARE(requestTarget({0, 0, 0, 0}, QString()), QStringLiteral("/zm2.asp?0&0&0&0&&0"));
        QCOMPARE(replaceReservedCharacters(QStringLiteral("A&B|C")), QStringLiteral("A B C"));

        // Replays: one letter per click, and a request the service reads back as sent.
        const std::vector<std::int32_t> clicks{0, 25, 26, 48, 7};
        QCOMPARE(encodeClicks(clicks), QStringLiteral("AZawH"));
        QCOMPARE(decodeClicks(QStringLiteral("AZawH")), std::optional(clicks));
        QVERIFY(!decodeClicks(QStringLiteral("Ax")));
        QVERIFY(!decodeClicks(QString(197, QLatin1Char('A'))));
        // The clock at each click as steps: one character each up to 9, letters for the digits
        // before the last of a longer step.
        const std::vector<std::int32_t> clocks{0, 1, 2, 15, 15, 1015};
        QCOMPARE(encodeClickCycles(clocks), QStringLiteral("011b30baa0"));
        QCOMPARE(decodeClickCycles(u"011b30baa0", 6), std::optional(clocks));
        QCOMPARE(decodeClickCycles(u"5-3", 2), std::optional(std::vector<std::int32_t>{5, 2}));
        QCOMPARE(decodeClickCycles(u"jjjjjjjj9jjjjjjjj9jjjjjjjj9", 3), std::nullopt); // past 32 bits
        QCOMPARE(decodeClickCycles(u"jjjjjjjjj9", 1), std::nullopt);                   // ten digits
        // A replay kept before the game recorded each click's clock goes in the shorter form.
        const std::vector<SubmittedReplay> sent{{812, GameReplay{4, 3, {0, 1}, {0, 3}}}, {40, GameReplay{7, 0, {48}, {}}}};
        const QString target = replayRequestTarget(QStringLiteral("Ann"), sent);
        QCOMPARE(target, QStringLiteral("/zr.asp?Ann&4.812.3.AB.03&7.40.0.w"));
        QString refusal;
        const auto parsed = parseReplaySubmission(target.mid(8).toLatin1(), &refusal);
        QVERIFY2(parsed, qPrintable(refusal));
        QCOMPARE(parsed->name, QStringLiteral("Ann"));
        QCOMPARE(parsed->replays.size(), std::size_t(2));
        QCOMPARE(parsed->replays[0].replay.clickCycles, (std::vector<std::int32_t>{0, 3}));
        QCOMPARE(parsed->replays[1].whole, qint64(40));
        QCOMPARE(parsed->replays[1].replay.clicks, std::vector<std::int32_t>{48});
        QVERIFY(!parsed->replays[1].replay.hasClickCycles());
        QCOMPARE(parseReplaySubmission("", nullptr)->name, QStringLiteral("Anonymous"));
        // Each refused with its own reason: five replays are too many, though one board is then
        // bound to repeat.
        const struct {
            QByteArray query;
            const char* why;
        } refused[] = {{"Ann&4.1.0", "a replay could not be read"},
                       {"Ann&8.1.0.A", "a replay could not be read"},
                       {"Ann&4.1.0.A!", "a replay could not be read"},
                       {"Ann&4.x.0.A", "a replay could not be read"},
                       {"Ann&4.1.0.AB.01a", "a replay could not be read"}, // a step never ended
                       {"Ann&4.1.0.A.", "a replay could not be read"},
                       {"Ann&4.1.0.A.0.0", "a replay could not be read"},
                       {"Ann&4.1.0.A.0x", "a replay could not be read"},
                       {"Ann&4.1.0.AB.011", "more clock values than clicks"},
                       {"Ann&4.1.0.A&4.1.0.A", "a board was sent twice"},
                       {"Ann&4.1.0.A&5.1.0.A&6.1.0.A&7.1.0.A&7.1.0.A", "too many of them"},
                       {"Ann&4.1.0.A&5.1.0.A&6.1.0.A&7.1.0.A&4.1.0.A&5.1.0.A", "too many of them"}};
        for (const auto& bad : refused) {
            QString why;
            QVERIFY2(!parseReplaySubmission(bad.query, &why), bad.query.constData());
            QVERIFY2(why.contains(QLatin1String(bad.why)), qPrintable(why));
        }

        auto r = parseReply(QStringLiteral("x|980|1410|2210|3305|Bo%20Kim|Ann%20Lee|Cy|Dee|Thank you"));
        QVERIFY(r);
        QCOMPARE(r->highs[0], 980.0);
        QCOMPARE(r->highs[3], 3305.0);
        QCOMPARE(r->holders[0], QStringLiteral("Bo Kim"));
        QCOMPARE(r->holders[1], QStringLiteral("Ann Lee"));
        QCOMPARE(r->message, QStringLiteral("Thank you"));
        r = parseReply(QStringLiteral("|1.5|2|0|7||||||extra|more"));
        QVERIFY(r);
        QCOMPARE(r->highs[0], 1.5);
        QVERIFY(!parseReply(QStringLiteral("x|1|2|3|4|a|b|c|d")));         // nine fields
        QVERIFY(!parseReply(QStringLiteral("x|1|2|three|4|a|b|c|d|m")));   // not a number
        QVERIFY(!parseReply(QStringLiteral("x|1|2|3|1e999|a|b|c|d|m")));   // not plain decimal
        QVERIFY(!parseReply(QStringLiteral("|1.5|-2|0|7||||||")));         // a negative high
        QVERIFY(!parseReply(QStringLiteral("|1|2|3|999999999.5|a|b|c|d|m"))); // past nine digits
        QVERIFY(parseReply(QStringLiteral("|1|2|3|999999999.4999|a|b|c|d|m")));
        QVERIFY(!parseReply(QStringLiteral("<html>error</html>")));
    }
};

QTEST_MAIN(TestScores)
#include "test_scores.moc"
