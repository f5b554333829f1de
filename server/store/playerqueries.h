#pragma once
// What a player's page and the records API ask of the store: a player's bests with their ranks,
// the players ranked just around them, and the history of their submissions.

#include "standings.h"
#include "storeerror.h"

#include "game/boardsize.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace zimble::server {

// Consecutive places of one board, the first at rank `firstRank`.
struct RankedSlice {
    int board = 0;
    qint64 firstRank = 1;
    QList<RankedEntry> entries;
    bool operator==(const RankedSlice&) const = default;
};

struct HistoryPoint {
    QDateTime at;
    qint64 score = 0;
    bool operator==(const HistoryPoint&) const = default;
};

struct PlayerBoardDetail {
    int board = 0;
    qint64 score = 0;      // the player's best
    QDateTime at;          // when it was set
    BoardRank rank;
    bool verified = false;
    RankedSlice around;    // the places just above and below, the player's own included
    QList<HistoryPoint> history; // every score sent for the board, oldest first
    qint64 replay = 0;     // the verified replay of the best, when verified
    bool operator==(const PlayerBoardDetail&) const = default;
};

// One stored name and its standing on each board where it has a score.
struct PlayerDetail {
    QString name;
    QList<PlayerBoardDetail> boards;
    bool operator==(const PlayerDetail&) const = default;
};

// The stored names that fold like a name looked up: the best placed of them in full.
struct FoundPlayers {
    QList<PlayerDetail> players; // in order of arrival
    qint64 more = 0;             // names folding alike that are not among them
    bool operator==(const FoundPlayers&) const = default;
};

// How many of the names folding alike a player page and the API show: however many are stored,
// an answer stays small and reads a bounded history.
inline constexpr int MaxPlayersShown = 20;

class Database;
class Leaderboards;

// The player queries: the best placed of the names folding like one looked up, with their ranks
// and places from the leaderboards and their histories from the database.
// Invariant: an answer is bounded however many names fold alike: at most MaxPlayersShown names,
// each with at most 1,000 submissions of history, read in one statement; it changes nothing.
class PlayerQueries {
public:
    // With verifiedOnly, a history holds the name's verified replays only.
    PlayerQueries(Database& db, bool verifiedOnly) : m_db(db), m_verifiedOnly(verifiedOnly) {}
    // Each found player with its bests, ranks, the `neighbours` places above and below on each
    // board, and its history; empty when none has a score. `boards` must be read.
    Status players(const Leaderboards& boards, const QString& name, int neighbours, FoundPlayers& out);
    // The latest submissions of each name (its verified replays with verifiedOnly), oldest first.
    Status histories(const QStringList& names, QList<std::array<QList<HistoryPoint>, BoardSizeCount>>& out);

private:
    Database& m_db;
    const bool m_verifiedOnly;
};

} // namespace zimble::server
