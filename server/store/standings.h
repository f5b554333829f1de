#pragma once
// Where every player stands on each board: each name once, with its best score (the earliest of
// equal ones), kept in order so that a name's rank and the best of a board are found in
// logarithmic time however many players there are.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// GCC's order-statistics tree: a red-black tree that also knows each key's position.
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

namespace zimble::server {

struct RankedEntry {
    QString name;
    qint64 score = 0;
    QDateTime at;
    bool verified = false; // backed by a replay the service has checked
    bool operator==(const RankedEntry&) const = default;
};

struct BoardRank {
    int board = 0;
    qint64 rank = 0;    // 1 for the best player
    qint64 players = 0; // players with a score on the board
    bool operator==(const BoardRank&) const = default;
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

    // The stored names whose case-folded form is `folded` (see foldName), in order of arrival.
    QStringList namesFolding(const QString& folded) const;
    // `count` players of the board from rank `fromRank` (counting from 1) down.
    QList<RankedEntry> ranked(int index, qint64 fromRank, int count) const;

private:
    using Key = std::pair<qint64, qint64>; // (-score, id): the best come first
    using Tree = __gnu_pbds::tree<Key, QString, std::less<Key>, __gnu_pbds::rb_tree_tag,
                                  __gnu_pbds::tree_order_statistics_node_update>;
    struct Board {
        Tree order;
        QHash<QString, Best> byName;
    };
    std::array<Board, 4> m_boards;
    QHash<QString, QStringList> m_folded; // case-folded name -> the names stored that fold to it
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
    std::array<QList<Entry>, 4> m_boards;
};

// The start of the week `at` falls in: Monday 00:00 UTC.
QDateTime weekStart(const QDateTime& at);

} // namespace zimble::server
