// The web page opener against a browser registered in a private desktop database.
// Each run of this program sets up one situation before GIO reads the database:
//   test_webpage registered | unregistered | unstartable

#include "app/session.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace zimble;

namespace {

QTemporaryDir* home = nullptr;
QString mode;

QString path(const QString& relative)
{
    return home->filePath(relative);
}

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

// A private XDG world: no system applications, and (unless unregistered) one browser for HTML.
void setUpDesktop()
{
    qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_DIRS", path(QStringLiteral("nodata")).toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", path(QStringLiteral("noconfig")).toLocal8Bit());
    qputenv("ZIMBLE_ARGS_FILE", path(QStringLiteral("args.txt")).toLocal8Bit());
    QDir().mkpath(path(QStringLiteral("nodata")));
    QDir().mkpath(path(QStringLiteral("data/applications")));
    if (mode == QLatin1String("unregistered"))
        return;

    // The browser's path has a space in it: it must be started whole.
    const QString browser = path(QStringLiteral("bin dir/test browser"));
    if (mode == QLatin1String("unstartable")) {
        // Executable by its mode bits but not a program the system can start.
        writeFile(browser, QByteArray("\x7f" "ELF\x02\x01\x01garbage", 15), true);
    } else {
        writeFile(browser, "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } > \"$ZIMBLE_ARGS_FILE.tmp\"\n"
                           "mv \"$ZIMBLE_ARGS_FILE.tmp\" \"$ZIMBLE_ARGS_FILE\"\n", true);
    }
    writeFile(path(QStringLiteral("data/applications/test-browser.desktop")),
              "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=\"" + browser.toUtf8()
                  + "\" %u\nMimeType=text/html;x-scheme-handler/http;\n");
    writeFile(path(QStringLiteral("config/mimeapps.list")), "[Default Applications]\ntext/html=test-browser.desktop\n");
}

QStringList recordedArguments()
{
    QFile f(path(QStringLiteral("args.txt")));
    for (int i = 0; i < 500 && !f.exists(); ++i)
        QTest::qWait(10);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

} // namespace

class TestWebPage : public QObject {
    Q_OBJECT
    QStringList m_messages;
    Session m_session;

private slots:
    void initTestCase()
    {
        m_session.setMessageHandler([this](QWidget*, const QString& text) { m_messages.append(text); });
    }

    void opensTheAddressAsTyped()
    {
        if (mode != QLatin1String("registered"))
            QSKIP("registered browser only");
        m_session.openWebPage(QStringLiteral("zimble.example.org"), nullptr);
        QCOMPARE(recordedArguments(), (QStringList{QStringLiteral("1"), QStringLiteral("zimble.example.org")}));
        QFile::remove(path(QStringLiteral("args.txt")));
        m_session.openWebPage(QStringLiteral("http://127.0.0.1:8417/zimble1.asp"), nullptr);
        QCOMPARE(recordedArguments(), (QStringList{QStringLiteral("1"), QStringLiteral("http://127.0.0.1:8417/zimble1.asp")}));
        QVERIFY(m_messages.isEmpty());
        // No temporary document is left anywhere we can see.
        QVERIFY(QDir(QDir::tempPath()).entryList({QStringLiteral("*.HTM")}).isEmpty());
    }

    void noBrowserRegistered()
    {
        if (mode != QLatin1String("unregistered"))
            QSKIP("no browser only");
        m_session.openWebPage(QStringLiteral("zimble.example.org"), nullptr);
        QCOMPARE(m_messages, QStringList{QStringLiteral("Could not find associated Browser")});
    }

    void browserCannotStart()
    {
        if (mode != QLatin1String("unstartable"))
            QSKIP("unstartable browser only");
        m_session.openWebPage(QStringLiteral("zimble.example.org"), nullptr);
        QCOMPARE(m_messages, QStringList{QStringLiteral("Web Page not Opened")});
        QVERIFY(!QFile::exists(path(QStringLiteral("args.txt"))));
    }
};

int main(int argc, char* argv[])
{
    QTemporaryDir dir;
    home = &dir;
    mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("registered");
    setUpDesktop();
    QApplication app(argc, argv);
    TestWebPage test;
    // The first argument chose the situation; QtTest gets the rest.
    QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        args.removeAt(1);
    return QTest::qExec(&test, args);
}

#include "test_webpage.moc"
