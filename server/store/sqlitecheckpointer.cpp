#include "sqlitecheckpointer.h"

#include <sqlite3.h>

#include <memory>

namespace zimble::server {

namespace {
// How long the closing step waits for the instance's writer (and others' readers) to step aside.
constexpr int RestartWaitMs = 250;
} // namespace

std::unique_ptr<SqliteCheckpointer> SqliteCheckpointer::start(const QByteArray& file)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    // The copy syncs the log before it and the database file after it, as the writer's would.
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db, RestartWaitMs);
    return std::unique_ptr<SqliteCheckpointer>(new SqliteCheckpointer(db));
}

SqliteCheckpointer::SqliteCheckpointer(sqlite3* db) : m_db(db), m_thread([this] { run(); }) {}

SqliteCheckpointer::~SqliteCheckpointer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    sqlite3_close(m_db);
}

void SqliteCheckpointer::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = true;
    }
    m_wake.notify_one();
}

void SqliteCheckpointer::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_pending || m_stop; });
        if (m_stop)
            return;
        m_pending = false;
        lock.unlock();
        checkpoint();
        lock.lock();
    }
}

void SqliteCheckpointer::checkpoint()
{
    // First everything in the log so far, while writers go on appending to it: the long part,
    // and nobody waits for it. Then a restart, which holds writers back only while it copies
    // what they appended meanwhile: a log always being appended to is never copied completely,
    // and only a completely copied log starts again from its beginning instead of growing.
    // A busy database (another instance's checkpoint or a long reader) leaves it for next time.
    if (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) != SQLITE_OK)
        return;
    (void)sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr);
}

} // namespace zimble::server
