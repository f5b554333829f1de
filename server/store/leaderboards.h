#pragma once
// The leaderboards the service answers from without asking the database: every player's best
// and rank on each board, of all submissions and of verified replays, the ten best of this week,
// which scores are verified, and the stored names found by their case-folded form.

#include "playerqueries.h"
#include "standings.h"

#include "game/boardsize.h"

#include <QDateTime>
#include <QList>
#include <QHash>
#include <QString>

#include <array>
#include <optional>

namespace zimble::server {

inline constexpr int FirstBoard = MinBoardSize;
inline constexpr int LastBoard = MaxBoardSize;

struct WorldRecord {
    qint64 score = 0;
    QString holder;   // empty while nobody holds it
    QDateTime setAt;  // invalid while nobody holds it
    bool verified = false; // backed by a replay the service has checked
    qint64 replay = 0;     // that replay, when verified
    bool operator==(const WorldRecord&) const = default;
};
using WorldRecords = std::array<WorldRecord, BoardSizeCount>; // boards 4 to 7

// What the game's page shows: the records, the ten best players of each board of all time and
// of this week.
struct PageData {
    WorldRecords records;
    std::array<QList<RankedEntry>, BoardSizeCount> best;
    std::array<QList<RankedEntry>, BoardSizeCount> week;
    bool verifiedOnly = false;
    bool operator==(const PageData&) const = default;
};

struct StoredSubmission {
    qint64 id = 0;
    QDateTime at;
    QString name;
    QString client;
    std::array<qint64, BoardSizeCount> scores{};
};

// A replay the service verified, as the leaderboards take it in.
struct VerifiedReplay {
    qint64 id = 0;         // the replay
    qint64 submission = 0; // the submission it backs
    int board = 0;
    QString name;
    qint64 score = 0;
    QDateTime at;          // when that submission was stored
};

// Invariant: a read Leaderboards holds exactly every submission up to lastId() and every
// verified replay up to lastReplayId(), with this week's ten best for the week that began at
// weekStart(). It changes only through stored(), verified() and turnWeek(). Reading anew (at
// start-up, after a moderation) fills a fresh, unread one (load, then the events since) that is
// marked read and swapped in only once all of it has succeeded: the store answers from read
// leaderboards only, never from half-read ones.
class Leaderboards {
public:
    // With verifiedOnly, the page, ranks and places count verified replays only.
    explicit Leaderboards(bool verifiedOnly = false) : m_verifiedOnly(verifiedOnly) {}

    bool isRead() const { return m_read; }
    bool verifiedOnly() const { return m_verifiedOnly; }
    qint64 lastId() const { return m_lastId; }
    qint64 lastReplayId() const { return m_lastReplayId; }
    QDateTime weekStart() const { return m_weekStart; }
    // Whether `now` falls in a later week than this week's ten best.
    bool weekTurned(const QDateTime& now) const { return zimble::server::weekStart(now) != m_weekStart; }

    // Reading anew: every player's best on each board (board index 0 to 3), then finishLoad()
    // with the last submission those include; then the events since, then markRead().
    void reserveLoad(int index, qint64 count) { m_all.reserveLoad(index, count); }
    void load(int index, QByteArrayView utf8Name, qint64 score, qint64 id, qint64 atMs)
    {
        m_all.load(index, utf8Name, score, id, atMs);
    }
    void finishLoad(qint64 lastId);
    void markRead() { m_read = true; }

    // A committed submission, in the order of ids.
    void stored(const StoredSubmission& s);
    // A verified replay, in the order of ids.
    void verified(const VerifiedReplay& r);

    // A new week's ten best, from that week's submissions and verified replays up to what the
    // leaderboards hold; taken in by turnWeek() once complete.
    class Week {
    public:
        void stored(const StoredSubmission& s);
        void verified(const VerifiedReplay& r);

    private:
        friend class Leaderboards;
        Week(const Leaderboards& boards, const QDateTime& start) : m_boards(&boards), m_start(start) {}
        const Leaderboards* m_boards;
        QDateTime m_start;
        TopTens m_all;
        TopTens m_verified;
    };
    Week newWeek(const QDateTime& start) const { return Week(*this, start); }
    void turnWeek(Week&& week);

    // The page: the records given, the ten best of all time and of this week, verified marks.
    PageData page(const WorldRecords& records) const;
    // The name's rank on each board where it has a score.
    QList<BoardRank> ranks(const QString& name) const;
    // The board's places from `count` above the named player to `count` below: the name as
    // given when it is stored so, else the best placed of the names that fold like it.
    std::optional<RankedSlice> around(int board, const QString& name, int count) const;
    // The places from `count` above `rank` to `count` below on board index `index`.
    RankedSlice slice(int index, qint64 rank, int count) const;
    // The best placed `limit` of the stored names that fold like `name` (by their best rank on
    // any board), in order of arrival, with their bests, ranks and `neighbours` places around (no
    // history); `more` counts the others with a score.
    FoundPlayers players(const QString& name, int neighbours, int limit) const;
    // Whether a verified replay backs the name's score on the board (4 to 7).
    bool isVerified(int board, const QString& name, qint64 score) const { return replayOf(board, name, score) != 0; }
    // The first verified replay of the name's score on the board; 0 when none backs it.
    qint64 replayOf(int board, const QString& name, qint64 score) const;
    // The name's best of all submissions on board index `index`, verified or not.
    std::optional<Standings::Best> best(int index, const QString& name) const { return m_all.best(index, name); }

private:
    const Standings& counted() const { return m_verifiedOnly ? m_verified : m_all; }
    PlayerDetail detail(const QString& stored, int neighbours) const;
    // Sets the entry's verified mark and replay.
    void mark(int board, RankedEntry& e) const;
    bool reachedBefore(const QDateTime& start, int index, const QString& name, qint64 score) const;

    bool m_verifiedOnly;
    bool m_read = false;
    Standings m_all;      // every submission's score
    Standings m_verified; // the scores of verified replays
    TopTens m_week;
    TopTens m_weekVerified;
    QDateTime m_weekStart;
    // (board << 40 | score, name) of every verified replay, to its first replay's id: looked up
    // for each row of the page.
    QHash<std::pair<qint64, QString>, qint64> m_verifiedKeys;
    qint64 m_lastId = 0;
    qint64 m_lastReplayId = 0;
};

} // namespace zimble::server
