// GLib uses "signals" as an identifier, which Qt defines as a keyword: include it first.
#if !defined(_WIN32)
#include <gio/gio.h>
#endif

#include "shell.h"

#include <QProcess>
#include <QWidget>

#if defined(Q_OS_WIN)
#include <QDir>
#include <QTemporaryFile>
#include <windows.h>
#include <shellapi.h>
#endif

namespace zimble {

namespace {

#if defined(Q_OS_WIN)
// Windows answers "which program opens this document?", so it needs a document to ask about:
// a private temporary ".HTM" file, never a fixed path that anyone could replace.
bool findBrowser(QString& browser)
{
    QTemporaryFile probe(QDir::tempPath() + QStringLiteral("/zimbleXXXXXX.HTM"));
    if (!probe.open())
        return false;
    probe.write("\"<HTML> <\\HTML>\"\r\n");
    probe.close();
    char found[MAX_PATH + 1] = {};
    const auto rc = reinterpret_cast<INT_PTR>(
        FindExecutableA(QDir::toNativeSeparators(probe.fileName()).toLocal8Bit().constData(), nullptr, found));
    browser = QString::fromLocal8Bit(found).trimmed();
    return rc > 32;
}

bool startBrowser(const QString& browser, const QString& address, QWidget* owner)
{
    HWND hwnd = owner ? reinterpret_cast<HWND>(owner->winId()) : nullptr;
    const auto rc = reinterpret_cast<INT_PTR>(ShellExecuteA(hwnd, "open", browser.toLocal8Bit().constData(),
                                                            address.toLocal8Bit().constData(), nullptr, 1));
    return rc > 32;
}
#else
// GIO asks the desktop's MIME database directly, so no document is needed.
bool findBrowser(QString& browser)
{
    GAppInfo* info = g_app_info_get_default_for_type("text/html", FALSE);
    if (!info)
        return false;
    // The program is the first word of the registered command line, quotes removed,
    // so that a path with spaces comes out whole.
    const char* commandLine = g_app_info_get_commandline(info);
    gchar** argv = nullptr;
    if (commandLine && g_shell_parse_argv(commandLine, nullptr, &argv, nullptr) && argv && argv[0]) {
        gchar* full = g_find_program_in_path(argv[0]);
        browser = QString::fromLocal8Bit(full ? full : argv[0]).trimmed();
        g_free(full);
    }
    g_strfreev(argv);
    g_object_unref(info);
    return !browser.isEmpty();
}

bool startBrowser(const QString& browser, const QString& address, QWidget*)
{
    // The address is the only argument, exactly as given; the browser runs on its own.
    return QProcess::startDetached(browser, {address});
}
#endif

} // namespace

WebPageResult openWebPage(const QString& address, QWidget* owner)
{
    QString browser;
    if (!findBrowser(browser))
        return WebPageResult::NoBrowser;
    if (!startBrowser(browser, address, owner))
        return WebPageResult::NotStarted;
    return WebPageResult::Opened;
}

} // namespace zimble
