#pragma once
// Export, import and backup: the operator's commands that move whole tables in or out, run
// against the database while services may be using it.

#include "storeerror.h"

#include <QString>

class QIODevice;

namespace zimble::server {

class Database;
class SubmissionWriter;

// What an import did.
struct ImportOutcome {
    qint64 rows = 0;       // rows stored
    qint64 duplicates = 0; // rows that matched a stored one (time, board, score, name)
};

// Every submission as CSV (RFC 4180): "time,board,zq,name,verified", one row per board score
// above zero, in the order stored.
// Invariant: reads 5,000 submissions at a time and writes each chunk out before the next, so
// memory stays flat however large the table; it changes nothing stored.
class CsvExport {
public:
    explicit CsvExport(Database& db) : m_db(db) {}
    // `rows` counts the rows written.
    Status run(QIODevice& out, qint64* rows);

private:
    Database& m_db;
};

// Reads the export's format and stores each row as one submission on one board at its time.
// Invariant: all rows or none, in one transaction that takes the records' locks as every writer
// does; a bad row stops it with "line N: reason"; a best or record changes only to a strictly
// higher score, and the moderation count moves so that running services read their standings anew.
class CsvImport {
public:
    CsvImport(Database& db, SubmissionWriter& writer) : m_db(db), m_writer(writer) {}
    // Rows equal to a stored one are counted, and with refuseDuplicates stop it.
    Status run(QIODevice& in, ImportOutcome* outcome, bool refuseDuplicates);

private:
    Status importRows(QIODevice& in, ImportOutcome* outcome, bool refuseDuplicates);
    Database& m_db;
    SubmissionWriter& m_writer;
};

// Invariant: a copy never replaces the database it copies, its -wal, -shm or -journal, nor
// anything that exists and is not a regular file.
class Backup {
public:
    // `location` is the database as opened (its file for SQLite).
    Backup(Database& db, const QString& location) : m_db(db), m_location(location) {}
    // A consistent copy of the live database in `file` (SQLite's online backup API).
    Status to(const QString& file);

private:
    Database& m_db;
    QString m_location;
};

} // namespace zimble::server
