#include "logsyncer.h"

#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zimble::server {

std::unique_ptr<LogSyncer> LogSyncer::open(const QByteArray& file, QString* error)
{
    // Read-only is enough to sync a file; writing stays SQLite's alone.
    const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(QString::fromLocal8Bit(file), QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    return std::unique_ptr<LogSyncer>(new LogSyncer(fd));
}

LogSyncer::LogSyncer(int fd) : m_fd(fd), m_thread([this] { run(); }) {}

LogSyncer::~LogSyncer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    ::close(m_fd);
}

void LogSyncer::request(Done done)
{
    {
        std::lock_guard lock(m_mutex);
        m_waiting.push_back(std::move(done));
    }
    m_wake.notify_one();
}

Status LogSyncer::syncNow() const
{
    // fdatasync writes back every page of the file, whichever descriptor wrote it.
    const int rc = ::fdatasync(m_fd);
    const int error = errno;
    {
        std::lock_guard lock(m_mutex);
        ++m_syncs;
    }
    if (rc == 0)
        return {};
    return Status::refused(QStringLiteral("the write-ahead log could not be synced to disk: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(error))));
}

quint64 LogSyncer::syncs() const
{
    std::lock_guard lock(m_mutex);
    return m_syncs;
}

void LogSyncer::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_waiting.empty() || m_stop; });
        if (m_waiting.empty())
            return; // stopping, and nothing left to answer
        std::vector<Done> answering;
        answering.swap(m_waiting);
        lock.unlock();
        const Status s = syncNow();
        for (const Done& done : answering)
            done(s);
        lock.lock();
    }
}

} // namespace zimble::server
