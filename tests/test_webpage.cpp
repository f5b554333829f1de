// The web page opener against browsers registered in private desktop databases.
// GIO reads the desktop database once per process, so every case runs the opener in a child
// process of this program, in an XDG world of its own that holds nothing but the case's entry:
//   test_webpage registered | unregistered | unstartable   the cases of one kind: the page opens,
//       "Could not find associated Browser", "Web Page not Opened", each with its reason
//   test_webpage open ADDRESS                              (child) opens ADDRESS, prints the messages

#include "app/session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

using namespace zimble;

namespace {

void writeFile(const QString& file, const QByteArray& content, bool executable = false)
{
    QDir().mkpath(QFileInfo(file).path());
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file));
    f.write(content);
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

// The test browser writes how many arguments it got, each argument on a line of its own, and the
// variable an env wrapper sets; the file appears whole, once the browser is done.
const QByteArray BrowserScript =
    "#!/bin/sh\n"
    "{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; echo \"var=$ZIMBLE_TEST_VAR\"; } > \"$ZIMBLE_ARGS_FILE.tmp\"\n"
    "mv \"$ZIMBLE_ARGS_FILE.tmp\" \"$ZIMBLE_ARGS_FILE\"\n";

// A sandbox runner: insists on its own options, then runs the rest of its command line.
const QByteArray RunnerScript =
    "#!/bin/sh\n"
    "[ \"$1\" = --share=network ] && [ \"$2\" = --command ] || exit 3\n"
    "shift 2\n"
    "exec \"$@\"\n";

// A private XDG world in `home`. `exec` is the entry's Exec line, with @BROWSER@ and @RUNNER@
// standing for the test programs, quoted; an empty one registers no browser at all.
QProcessEnvironment setUpDesktop(const QTemporaryDir& home, const QByteArray& exec, const QByteArray& browserContent)
{
    const QString browser = home.filePath(QStringLiteral("bin dir/test browser"));
    const QString runner = home.filePath(QStringLiteral("bin dir/test runner"));
    writeFile(browser, browserContent, true);
    writeFile(runner, RunnerScript, true);
    QDir().mkpath(home.filePath(QStringLiteral("nodata")));
    QDir().mkpath(home.filePath(QStringLiteral("data/applications")));
    if (!exec.isEmpty()) {
        QByteArray line = exec;
        line.replace("@BROWSER@", '"' + browser.toUtf8() + '"').replace("@RUNNER@", '"' + runner.toUtf8() + '"');
        writeFile(home.filePath(QStringLiteral("data/applications/test-browser.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + line
                      + "\nMimeType=text/html;x-scheme-handler/http;\n");
        writeFile(home.filePath(QStringLiteral("config/mimeapps.list")),
                  "[Default Applications]\ntext/html=test-browser.desktop\n");
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"), home.filePath(QStringLiteral("nodata")));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), home.filePath(QStringLiteral("noconfig")));
    env.insert(QStringLiteral("ZIMBLE_ARGS_FILE"), home.filePath(QStringLiteral("args.txt")));
    env.remove(QStringLiteral("ZIMBLE_TEST_VAR"));
    return env;
}

struct Outcome {
    QStringList messages;
    QStringList browserLines; // empty when the browser never ran
};

// Opens `address` in a child process living in `env`'s world.
Outcome openInChild(const QProcessEnvironment& env, const QString& address)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("open"), address});
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
        qWarning("the opener did not finish");
    }
    Outcome outcome;
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    outcome.messages = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QFile f(env.value(QStringLiteral("ZIMBLE_ARGS_FILE")));
    if (f.open(QIODevice::ReadOnly)) {
        outcome.browserLines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        outcome.browserLines.removeLast();
    }
    return outcome;
}

// The child: opens the address, then waits until something has come of it (a message, or the
// browser's record and a moment for a late failure report) and prints the messages.
int openAndReport(const QString& address)
{
    QStringList messages;
    Session session;
    session.setMessageHandler([&messages](QWidget*, const QString& text) { messages.append(text); });
    session.openWebPage(address, nullptr);
    const QString record = qEnvironmentVariable("ZIMBLE_ARGS_FILE");
    QElapsedTimer clock;
    clock.start();
    qint64 recordSeen = -1;
    while (messages.isEmpty() && !clock.hasExpired(10000)) {
        if (recordSeen < 0 && QFile::exists(record))
            recordSeen = clock.elapsed();
        if (recordSeen >= 0 && clock.elapsed() - recordSeen > 500)
            break;
        QTest::qWait(20);
    }
    for (const QString& m : messages)
        std::printf("%s\n", qPrintable(m));
    return 0;
}

QStringList lines(std::initializer_list<QString> texts)
{
    return QStringList(texts);
}

} // namespace

class TestWebPage : public QObject {
    Q_OBJECT

    // The kind of cases this run covers: registered, unregistered or unstartable.
    const QString m_group;

    void addRow(const char* name, const QByteArray& exec, const QString& address, const QByteArray& browser,
                const QStringList& browserLines, const QStringList& messages)
    {
        QTest::newRow(name) << exec << address << browser << browserLines << messages;
    }

public:
    explicit TestWebPage(QString group) : m_group(std::move(group)) {}

private slots:
    void opensPage_data()
    {
        QTest::addColumn<QByteArray>("exec");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("browser");
        QTest::addColumn<QStringList>("browserLines");
        QTest::addColumn<QStringList>("messages");
        const QString host = QStringLiteral("zimble.example.org");
        const QString page = QStringLiteral("http://127.0.0.1:8417/zimble1.asp");
        const QByteArray garbage("\x7f" "ELF\x02\x01\x01garbage", 15);

        if (m_group == QLatin1String("registered")) {
            // The address reaches the browser exactly as given, its only argument unless the
            // entry has arguments of its own; the browser's path has a space in it.
            addRow("bare host name", "@BROWSER@ %u", host, BrowserScript, lines({"1", "zimble.example.org", "var="}), {});
            addRow("full address", "@BROWSER@ %u", page, BrowserScript, lines({"1", page, "var="}), {});
            addRow("env wrapper", "env ZIMBLE_TEST_VAR=1 @BROWSER@ %u", host, BrowserScript,
                   lines({"1", "zimble.example.org", "var=1"}), {});
            addRow("runner with options", "@RUNNER@ --share=network --command @BROWSER@ %u", page, BrowserScript,
                   lines({"1", page, "var="}), {});
            addRow("list field code", "@BROWSER@ --new-window %U", host, BrowserScript,
                   lines({"2", "--new-window", "zimble.example.org", "var="}), {});
            addRow("argument with spaces", "@BROWSER@ \"--profile=my profile\" %u", host, BrowserScript,
                   lines({"2", "--profile=my profile", "zimble.example.org", "var="}), {});
            addRow("address with shell characters", "@BROWSER@ %u", page + QStringLiteral("?n=O'Brien $HOME;`id`"),
                   BrowserScript, lines({"1", page + QStringLiteral("?n=O'Brien $HOME;`id`"), "var="}), {});
        } else if (m_group == QLatin1String("unregistered")) {
            const QStringList none{QStringLiteral("Could not find associated Browser"),
                                   QStringLiteral("No program that can start is registered on this computer to open web pages.")};
            addRow("no entry", "", host, BrowserScript, {}, none);
            addRow("program missing", "\"/nonexistent/zimble browser\" %u", host, BrowserScript, {}, none);
            addRow("unbalanced quote", "\"@BROWSER@ %u", host, BrowserScript, {}, none);
        } else if (m_group == QLatin1String("unstartable")) {
            auto notOpened = [](const char* reason) {
                return QStringList{QStringLiteral("Web Page not Opened"), QStringLiteral("The browser \"Test Browser\" ")
                                                                              + QLatin1String(reason)};
            };
            // Executable by its mode bits but not a program the system can start.
            addRow("not a program", "@BROWSER@ %u", host, garbage, {}, notOpened("ended at once with exit status"));
            addRow("env wrapper, program missing", "env ZIMBLE_TEST_VAR=1 /nonexistent/browser %u", host,
                   BrowserScript, {}, notOpened("ended at once with exit status 127."));
            addRow("wrapped program not a program", "env ZIMBLE_TEST_VAR=1 @BROWSER@ %u", host, garbage, {},
                   notOpened("ended at once with exit status"));
            // GIO gives an entry that takes only files nothing for a web address.
            addRow("entry takes files only", "@BROWSER@ %f", page, BrowserScript, {},
                   notOpened("takes files only, not web addresses."));
            addRow("entry takes a file list only", "@BROWSER@ %F", host, BrowserScript, {},
                   notOpened("takes files only, not web addresses."));
            addRow("runner refuses its options", "@RUNNER@ --share=all --command @BROWSER@ %u", host, BrowserScript,
                   {}, notOpened("ended at once with exit status 3."));
        }
    }

    void opensPage()
    {
        QFETCH(QByteArray, exec);
        QFETCH(QString, address);
        QFETCH(QByteArray, browser);
        QFETCH(QStringList, browserLines);
        QFETCH(QStringList, messages);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const Outcome outcome = openInChild(setUpDesktop(home, exec, browser), address);
        // A failure is told as the Part's message, the reason in words (its start given here) and
        // the full address, for the player to copy into a browser.
        const QString full = address.startsWith(QLatin1String("http://")) ? address : QStringLiteral("http://") + address;
        QCOMPARE(outcome.messages.size(), messages.isEmpty() ? 0 : 3);
        if (!messages.isEmpty()) {
            QCOMPARE(outcome.messages.at(0), messages.at(0));
            QVERIFY2(outcome.messages.at(1).startsWith(messages.at(1)), qPrintable(outcome.messages.at(1)));
            QCOMPARE(outcome.messages.at(2), full);
        }
        QCOMPARE(outcome.browserLines, browserLines);
        // No temporary document is left anywhere we can see.
        QVERIFY(QDir(QDir::tempPath()).entryList({QStringLiteral("*.HTM")}).isEmpty());
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 && args.at(1) == QLatin1String("open"))
        return openAndReport(args.at(2));
    // The first argument chose the kind of cases; QtTest gets the rest.
    TestWebPage test(args.size() > 1 ? args.takeAt(1) : QStringLiteral("registered"));
    return QTest::qExec(&test, args);
}

#include "test_webpage.moc"
