#pragma once
// Where an export or a backup may be written.

#include <QString>

namespace zimble::server {

// Why `target` may not be written with a copy of the SQLite database `database` (empty for
// PostgreSQL), or empty when it may. Refused: the database itself or its -wal, -shm or -journal
// file, compared by device and inode (so a symlink or another path to them is seen through, on
// either side) and, for those not there yet, by their real path; and anything that exists and is
// not a regular file (a device, a FIFO, a folder), which writing a file there would replace.
QString copyTargetProblem(const QString& target, const QString& database);

} // namespace zimble::server
