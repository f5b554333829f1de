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

bool findBrowser(QString& browser, QString& reason)
{
    reason = QStringLiteral("No program is registered on this computer to open web pages.");
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

bool startBrowser(const QString& browser, const QString& address, QWidget* owner, std::function<void(const QString&)>,
                  QString& reason)
{
    HWND hwnd = owner ? reinterpret_cast<HWND>(owner->winId()) : nullptr;
    const auto rc = reinterpret_cast<INT_PTR>(ShellExecuteA(hwnd, "open", browser.toLocal8Bit().constData(),
                                                            address.toLocal8Bit().constData(), nullptr, 1));
    reason = QStringLiteral("The browser \"%1\" could not be started (error %2).").arg(browser).arg(qint64(rc));
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

bool findBrowser(Browser& browser, QString& reason)
{
    // GIO leaves out entries whose program is missing or whose Exec line does not parse.
    browser.info = g_app_info_get_default_for_type("text/html", FALSE);
    if (!browser.info)
        reason = QStringLiteral("No program that can start is registered on this computer to open web pages.");
    return browser.info != nullptr;
}

// "The browser "Name"", for the reasons given to the player.
QString browserName(GAppInfo* info)
{
    return QStringLiteral("The browser \"%1\"").arg(QString::fromUtf8(g_app_info_get_name(info)));
}

// Why a started process ended: "ended at once with exit status 127".
QString endedBecause(int status)
{
    if (WIFEXITED(status))
        return QStringLiteral("ended at once with exit status %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return QStringLiteral("was ended at once by signal %1").arg(WTERMSIG(status));
    return QStringLiteral("ended at once");
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
void watchStart(pid_t pid, const QString& name, std::function<void(const QString&)> onLateFailure)
{
    auto* timer = new QTimer(QCoreApplication::instance());
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, name, onLateFailure, clock] {
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
            onLateFailure(name + QLatin1Char(' ') + endedBecause(status) + QLatin1Char('.'));
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

bool startBrowser(const Browser& browser, const QString& address, QWidget*,
                  std::function<void(const QString&)> onLateFailure, QString& reason)
{
    const QString name = browserName(browser.info);
    // The entry's own command line is used with its field codes (%u %U %f %F) filled in by GIO;
    // the address is passed exactly as given, even a bare host name without a scheme.
    const QByteArray uri = address.toUtf8();
    if (!g_app_info_supports_uris(browser.info) && !hasLocalPath(uri)) {
        // An entry that takes files only (%f, %F) would be started without the address.
        reason = name + QStringLiteral(" takes files only, not web addresses.");
        return false;
    }
    auto failed = [&](GError* error) {
        reason = name + QStringLiteral(" could not be started: %1.")
                            .arg(error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error"));
        g_clear_error(&error);
        return false;
    };
    GList uris = {const_cast<char*>(uri.constData()), nullptr, nullptr};
    GError* error = nullptr;
    if (!G_IS_DESKTOP_APP_INFO(browser.info) || !QCoreApplication::instance()) {
        if (!g_app_info_launch_uris(browser.info, &uris, nullptr, &error))
            return failed(error);
        return true;
    }
    // The same launch as g_app_info_launch_uris, but keeping the started process as our child so
    // that its exit status can be seen. An entry started over D-Bus has no process here.
    GPid pid = 0;
    const bool started = g_desktop_app_info_launch_uris_as_manager(
        G_DESKTOP_APP_INFO(browser.info), &uris, nullptr,
        GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr, rememberPid, &pid, &error);
    if (!started)
        return failed(error);
    if (pid > 0)
        watchStart(pid, name, std::move(onLateFailure));
    return true;
}
#endif

} // namespace

WebPageOutcome openWebPage(const QString& address, QWidget* owner, std::function<void(const QString&)> onLateFailure)
{
    Browser browser;
    QString reason;
    if (!findBrowser(browser, reason))
        return {WebPageResult::NoBrowser, reason};
    if (!startBrowser(browser, address, owner, std::move(onLateFailure), reason))
        return {WebPageResult::NotStarted, reason};
    return {};
}

} // namespace zimble
