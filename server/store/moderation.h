#pragma once
// Moderation: listing stored submissions and removing a name with everything it set. A name
// given matches every stored name folding like it (foldName), as on the pages.

#include "leaderboards.h"
#include "storeerror.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace zimble::server {

class Database;

// Invariant: a removal deletes a name's submissions, bests and replays and sets each board's
// records to the highest that remains (the earliest of equal scores) in one transaction that
// holds the records' locks, and moves the moderation count so that every running service reads
// its standings anew; a dry run rolls all of it back.
class Moderation {
public:
    // The world records as the store shows them, read inside the removal's transaction.
    using RecordsReader = std::function<Status(WorldRecords&)>;
    Moderation(Database& db, RecordsReader records) : m_db(db), m_records(std::move(records)) {}

    // Submissions newest first (or by one board's score, highest first), optionally of one name.
    Status list(int board, const QString& name, int limit, QList<StoredSubmission>& out);
    // Deletes the submissions and replays of every name folding like `name` and recomputes each
    // board's records from what remains; with dryRun, says what it would do and changes nothing.
    // The names it matched in `names`.
    Status removeName(const QString& name, int* removed, WorldRecords* before, WorldRecords* after, bool dryRun,
                      QStringList* names);

private:
    Status removeRun(const QStringList& names, int* removed, WorldRecords* before, WorldRecords* after, bool dryRun);
    Status recomputeRecords(int board);
    Status recomputeVerifiedRecord(int board);
    Database& m_db;
    RecordsReader m_records;
};

} // namespace zimble::server
