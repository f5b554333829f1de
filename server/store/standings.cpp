#include "standings.h"

#include <algorithm>

namespace zimble::server {

void Standings::clear()
{
    m_boards = {};
    m_folded.clear();
}

void Standings::offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at)
{
    if (score <= 0 || index < 0 || index >= 4)
        return;
    Board& b = m_boards[std::size_t(index)];
    auto found = b.byName.find(name);
    if (found != b.byName.end()) {
        const Best& old = *found;
        // Strictly higher replaces a best; an equal score keeps the earlier one.
        if (score < old.score || (score == old.score && id >= old.id))
            return;
        b.order.erase(Key(-old.score, old.id));
        *found = Best{score, id, at};
    } else {
        b.byName.insert(name, Best{score, id, at});
        QStringList& alike = m_folded[foldName(name)];
        if (!alike.contains(name))
            alike.append(name);
    }
    b.order.insert({Key(-score, id), name});
}

std::optional<Standings::Best> Standings::best(int index, const QString& name) const
{
    if (index < 0 || index >= 4)
        return std::nullopt;
    const auto found = m_boards[std::size_t(index)].byName.constFind(name);
    if (found == m_boards[std::size_t(index)].byName.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<BoardRank> Standings::rank(int index, const QString& name) const
{
    const std::optional<Best> b = best(index, name);
    if (!b)
        return std::nullopt;
    const Board& board = m_boards[std::size_t(index)];
    return BoardRank{4 + index, qint64(board.order.order_of_key(Key(-b->score, b->id))) + 1, qint64(board.order.size())};
}

qint64 Standings::players(int index) const
{
    return index >= 0 && index < 4 ? qint64(m_boards[std::size_t(index)].order.size()) : 0;
}

QList<RankedEntry> Standings::top(int index, int count) const
{
    QList<RankedEntry> out;
    if (index < 0 || index >= 4)
        return out;
    const Board& board = m_boards[std::size_t(index)];
    for (auto it = board.order.begin(); it != board.order.end() && out.size() < count; ++it) {
        const Best& b = board.byName.value(it->second);
        out.append({it->second, b.score, b.at, false});
    }
    return out;
}

void TopTens::offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at)
{
    if (score <= 0 || index < 0 || index >= 4)
        return;
    QList<Entry>& list = m_boards[std::size_t(index)];
    auto better = [](const Entry& a, const Entry& b) { return a.score > b.score || (a.score == b.score && a.id < b.id); };
    const Entry entry{name, score, id, at};
    for (Entry& e : list) {
        if (e.name != name)
            continue;
        if (!better(entry, e))
            return; // the name's best stays
        e = entry;
        std::sort(list.begin(), list.end(), better);
        return;
    }
    if (list.size() >= Count && !better(entry, list.last()))
        return;
    list.insert(std::upper_bound(list.begin(), list.end(), entry, better), entry);
    if (list.size() > Count)
        list.removeLast();
}

QList<RankedEntry> TopTens::board(int index) const
{
    QList<RankedEntry> out;
    for (const Entry& e : m_boards[std::size_t(index)])
        out.append({e.name, e.score, e.at, false});
    return out;
}

QDateTime weekStart(const QDateTime& at)
{
    const QDateTime utc = at.toUTC();
    const QDate monday = utc.date().addDays(1 - utc.date().dayOfWeek());
    return QDateTime(monday, QTime(0, 0), Qt::UTC);
}

} // namespace zimble::server
