#pragma once
// Where every player stands on each board: each name once, with its best score (the earliest of
// equal ones), kept in order so that a name's rank and the best of a board are found in
// logarithmic time however many players there are. Names are held once, as UTF-8 in one buffer,
// and each board's order is a list of sorted blocks with their counts in a Fenwick tree: about
// 40 bytes per player and board.

#include "game/boardsize.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHashSeed>
#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zimble::server {

struct RankedEntry {
    QString name;
    qint64 score = 0;
    QDateTime at;
    bool verified = false; // backed by a replay the service has checked
    qint64 replay = 0;     // that replay, when verified
    bool operator==(const RankedEntry&) const = default;
};

struct BoardRank {
    int board = 0;
    qint64 rank = 0;    // 1 for the best player
    qint64 players = 0; // players with a score on the board
    bool operator==(const BoardRank&) const = default;
};

// Every name once, numbered from 0 in the order first seen.
class PlayerNames {
public:
    static constexpr quint32 None = 0xffffffffu;
    quint32 intern(const QString& name) { return intern(QByteArrayView(name.toUtf8())); }
    quint32 intern(QByteArrayView utf8);
    quint32 find(const QString& name) const; // None when unknown
    QString name(quint32 player) const;
    quint32 size() const { return quint32(m_starts.size()); }
    void clear();

private:
    quint32 lookup(QByteArrayView utf8, size_t hash) const;
    void grow();
    std::string m_text;            // every name's UTF-8, one after another
    std::vector<quint32> m_starts; // where each name begins in m_text
    std::vector<quint32> m_slots;  // open addressing: player + 1, 0 for empty
};

// Entries in order, best first, with each entry's position found in logarithmic time.
class RankedOrder {
public:
    struct Entry {
        qint64 id;      // the submission; orders equal scores
        qint32 score;
        quint32 player;
    };
    static bool before(const Entry& a, const Entry& b) { return a.score > b.score || (a.score == b.score && a.id < b.id); }
    void clear();
    void insert(const Entry& e);
    void erase(const Entry& e);
    qint64 position(const Entry& e) const; // how many come before it
    qint64 size() const { return m_size; }
    // Replaces the content with entries already in order.
    void assign(std::vector<Entry>&& sorted);
    template <class F> void forFirst(qint64 count, F&& f) const { forRange(0, count, std::forward<F>(f)); }
    // Calls f for `count` entries from position `from` on (0 for the best), skipping whole blocks.
    template <class F> void forRange(qint64 from, qint64 count, F&& f) const
    {
        for (const auto& block : m_blocks) {
            if (from >= qint64(block.size())) {
                from -= qint64(block.size());
                continue;
            }
            for (size_t i = size_t(from); i < block.size(); ++i) {
                if (count-- <= 0)
                    return;
                f(block[i]);
            }
            from = 0;
        }
    }

private:
    static constexpr size_t BlockSize = 512;
    size_t blockOf(const Entry& e) const;
    void rebuildCounts();
    void addCount(size_t block, qint64 delta);
    std::vector<std::vector<Entry>> m_blocks;
    std::vector<qint64> m_counts; // Fenwick tree over block sizes
    qint64 m_size = 0;
};

class Standings {
public:
    struct Best {
        qint64 score = 0;
        qint64 id = 0; // the submission that set it; orders equal scores
        QDateTime at;
    };

    void clear();
    // A stored score on board index 0 to 3; scores of 0 or less are no score.
    void offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at);
    std::optional<Best> best(int index, const QString& name) const;
    // The name's place on the board, counting from 1, and how many players the board has.
    std::optional<BoardRank> rank(int index, const QString& name) const;
    qint64 players(int index) const;
    // The best `count` players of the board, best first.
    QList<RankedEntry> top(int index, int count) const;

    // Loading many bests at once: reserveLoad() with each board's count, add each with load(),
    // then finishLoad() puts them in order. Each name and board must come once.
    void reserveLoad(int index, qint64 count);
    void load(int index, QByteArrayView utf8Name, qint64 score, qint64 id, qint64 atMs);
    void finishLoad();

    // The stored names whose case-folded form is `folded` (see foldName), in order of arrival.
    QStringList namesFolding(const QString& folded) const;
    // `count` players of the board from rank `fromRank` (counting from 1) down.
    QList<RankedEntry> ranked(int index, qint64 fromRank, int count) const;

private:
    struct Slot {
        qint64 id = 0;
        qint32 score = 0;  // 0: no score
        quint32 atSec = 0; // seconds since 1970 (enough until 2106; the page shows dates)
    };
    struct Board {
        RankedOrder order;
        std::vector<Slot> byPlayer; // by player
        std::vector<RankedOrder::Entry> loading;
    };
    Slot* slot(int index, quint32 player);
    const Slot* slot(int index, quint32 player) const;
    void indexFoldedNames() const;
    PlayerNames m_names;
    std::array<Board, BoardSizeCount> m_boards;
    // Players by the hash of their case-folded name, chained: 8 bytes a player. Built on the first
    // lookup and brought up to date on each, so loading and submitting never fold a name.
    mutable std::vector<quint32> m_foldHeads; // bucket -> first player + 1, 0 for none
    mutable std::vector<quint32> m_foldNext;  // player -> next player + 1 in its bucket
    // Random for each process, so that names chosen to share a bucket cannot be worked out.
    size_t m_foldSeed = QHashSeed::globalSeed();

};

// A name as players look it up: NFC-normalised and Unicode case-folded ("Zoë" and "ZOË" alike).
QString foldName(const QString& name);

// The ten best of each board for the current week only: each name once, with its best this week.
// Exact without the history, since within a week a name can enter only with a new submission.
class TopTens {
public:
    static constexpr int Count = 10;
    void clear() { m_boards = {}; }
    void offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at);
    QList<RankedEntry> board(int index) const;

private:
    struct Entry {
        QString name;
        qint64 score;
        qint64 id;
        QDateTime at;
    };
    std::array<QList<Entry>, BoardSizeCount> m_boards;
};

// The start of the week `at` falls in: Monday 00:00 UTC.
QDateTime weekStart(const QDateTime& at);

} // namespace zimble::server
