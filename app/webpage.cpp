// GLib uses "signals" as an identifier, which Qt defines as a keyword: include it first.
#if !defined(_WIN32)
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#endif

#include "shell.h"

#include <QWidget>

#if defined(Q_OS_WIN)
#include <QDir>
#include <QTemporaryFile>
#include <windows.h>
#include <shellapi.h>
#else
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <sys/types.h>
#include <sys/wait.h>
#endif

namespace zimble {

namespace {

#if defined(Q_OS_WIN)
// Windows answers "which program opens this document?", so it needs a document to ask about:
// a private temporary ".HTM" file, never a fixed path that anyone could replace.
using Browser = QString;

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

bool startBrowser(const QString& browser, const QString& address, QWidget* owner, std::function<void()>)
{
    HWND hwnd = owner ? reinterpret_cast<HWND>(owner->winId()) : nullptr;
    const auto rc = reinterpret_cast<INT_PTR>(ShellExecuteA(hwnd, "open", browser.toLocal8Bit().constData(),
                                                            address.toLocal8Bit().constData(), nullptr, 1));
    return rc > 32;
}
#else
// GIO asks the desktop's MIME database directly, so no document is needed.
struct Browser {
    GAppInfo* info = nullptr;
    Browser() = default;
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;
    ~Browser()
    {
        if (info)
            g_object_unref(info);
    }
};

bool findBrowser(Browser& browser)
{
    // GIO leaves out entries whose program is missing or whose Exec line does not parse.
    browser.info = g_app_info_get_default_for_type("text/html", FALSE);
    return browser.info != nullptr;
}

// How long a started browser is watched for failing at once, and how often.
constexpr qint64 StartWatchMs = 5000;
constexpr int StartPollMs = 50;
constexpr int ReapPollMs = 2000;

// The entry's command may be a wrapper (env, a sandbox runner) or a file the system cannot run;
// GIO then reports a successful start of the wrapper or of its shell fallback, and the failure
// shows only as the started process ending at once with a failure status (126 or 127 from env
// and the shell). The process is watched from the event loop for a few seconds, failures found
// then are reported, and afterwards it is only reaped when it ends.
void watchStart(pid_t pid, std::function<void()> onLateFailure)
{
    auto* timer = new QTimer(QCoreApplication::instance());
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, onLateFailure, clock] {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended < 0 && errno == EINTR)
            return;
        if (ended == 0) {
            if (clock.hasExpired(StartWatchMs))
                timer->setInterval(ReapPollMs);
            return;
        }
        timer->stop();
        timer->deleteLater();
        const bool failed = ended == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        if (failed && !clock.hasExpired(StartWatchMs) && onLateFailure)
            onLateFailure();
    });
    timer->start(StartPollMs);
}

void rememberPid(GDesktopAppInfo*, GPid pid, gpointer pidOut)
{
    *static_cast<GPid*>(pidOut) = pid;
}

// Whether GIO can hand the address to an entry that takes files: only as a path, which web
// addresses have only where a virtual file system maps them to one.
bool hasLocalPath(const QByteArray& uri)
{
    GFile* file = g_file_new_for_uri(uri.constData());
    char* path = g_file_get_path(file);
    const bool local = path != nullptr;
    g_free(path);
    g_object_unref(file);
    return local;
}

bool startBrowser(const Browser& browser, const QString& address, QWidget*, std::function<void()> onLateFailure)
{
    // The entry's own command line is used with its field codes (%u %U %f %F) filled in by GIO;
    // the address is passed exactly as given, even a bare host name without a scheme.
    const QByteArray uri = address.toUtf8();
    if (!g_app_info_supports_uris(browser.info) && !hasLocalPath(uri))
        return false; // an entry that takes files only (%f, %F) would be started without the address
    GList uris = {const_cast<char*>(uri.constData()), nullptr, nullptr};
    GError* error = nullptr;
    if (!G_IS_DESKTOP_APP_INFO(browser.info) || !QCoreApplication::instance()) {
        const bool started = g_app_info_launch_uris(browser.info, &uris, nullptr, &error);
        g_clear_error(&error);
        return started;
    }
    // The same launch as g_app_info_launch_uris, but keeping the started process as our child so
    // that its exit status can be seen. An entry started over D-Bus has no process here.
    GPid pid = 0;
    const bool started = g_desktop_app_info_launch_uris_as_manager(
        G_DESKTOP_APP_INFO(browser.info), &uris, nullptr,
        GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr, rememberPid, &pid, &error);
    g_clear_error(&error);
    if (started && pid > 0)
        watchStart(pid, std::move(onLateFailure));
    return started;
}
#endif

} // namespace

WebPageResult openWebPage(const QString& address, QWidget* owner, std::function<void()> onLateFailure)
{
    Browser browser;
    if (!findBrowser(browser))
        return WebPageResult::NoBrowser;
    if (!startBrowser(browser, address, owner, std::move(onLateFailure)))
        return WebPageResult::NotStarted;
    return WebPageResult::Opened;
}

} // namespace zimble
