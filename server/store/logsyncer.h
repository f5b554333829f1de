#pragma once
// Syncs SQLite's write-ahead log on a thread of its own, for commits that did not wait for the
// disk: the writer goes on with the next transaction while the last one's log reaches the disk.

#include "storeerror.h"

#include <QByteArray>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zimble::server {

// Invariant: every request is answered exactly once, with the outcome of an fdatasync of the log
// that began after the request was made; one sync answers every request waiting when it begins.
class LogSyncer {
public:
    using Done = std::function<void(const Status&)>;
    // Opens the log `file` (it must exist); null with the reason in `error`.
    static std::unique_ptr<LogSyncer> open(const QByteArray& file, QString* error);
    ~LogSyncer(); // answers what was asked for (after one last sync), then ends the thread
    LogSyncer(const LogSyncer&) = delete;
    LogSyncer& operator=(const LogSyncer&) = delete;

    // Calls `done` on the syncer's thread once everything written to the log so far is on disk.
    void request(Done done);
    // The same on the caller's thread, waiting for it.
    Status syncNow() const;
    // Syncs done so far.
    quint64 syncs() const;

private:
    explicit LogSyncer(int fd);
    void run();

    const int m_fd;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Done> m_waiting;
    bool m_stop = false;
    mutable quint64 m_syncs = 0;
    std::thread m_thread;
};

} // namespace zimble::server
