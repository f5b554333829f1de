#pragma once
// Copies SQLite's write-ahead log back into the database file on a thread and connection of its
// own, so that a commit never waits for that copy and the syncs it needs.

#include <QByteArray>

#include <condition_variable>
#include <mutex>
#include <thread>

struct sqlite3;

namespace zimble::server {

// Invariant: at most one checkpoint of this instance runs at a time, on its own thread; a wake()
// that arrives while one runs makes exactly one more follow it.
class SqliteCheckpointer {
public:
    // Starts the thread for the database `file`; null when its connection cannot be opened.
    static std::unique_ptr<SqliteCheckpointer> start(const QByteArray& file);
    ~SqliteCheckpointer(); // waits for a checkpoint under way, then ends the thread
    SqliteCheckpointer(const SqliteCheckpointer&) = delete;
    SqliteCheckpointer& operator=(const SqliteCheckpointer&) = delete;

    // Asks for a checkpoint soon; called by the writer after its commit, never blocks on one.
    void wake();

private:
    explicit SqliteCheckpointer(sqlite3* db);
    void run();
    void checkpoint();

    sqlite3* m_db;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_pending = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace zimble::server
