#include "standings.h"

#include <QTimeZone>

#include <algorithm>
#include <limits>

namespace zimble::server {

namespace {

size_t hashOf(QByteArrayView utf8)
{
    // Mixed, as the table takes the low bits: names alike ("Player 1", "Player 2") must spread.
    quint64 h = 14695981039346656037ull; // FNV-1a
    for (const char c : utf8)
        h = (h ^ quint8(c)) * 1099511628211ull;
    h ^= h >> 32;
    h *= 0x9E3779B97F4A7C15ull;
    return size_t(h ^ (h >> 29));
}

quint32 toSeconds(qint64 ms)
{
    return quint32(std::clamp<qint64>(ms >= 0 ? ms / 1000 : 0, 0, std::numeric_limits<quint32>::max()));
}

QDateTime fromSeconds(quint32 s)
{
    return QDateTime::fromSecsSinceEpoch(qint64(s), Qt::UTC);
}

qint32 clampScore(qint64 score)
{
    return qint32(std::min<qint64>(score, std::numeric_limits<qint32>::max()));
}

} // namespace

// ---- PlayerNames

void PlayerNames::clear()
{
    m_text = {};
    m_starts = {};
    m_slots = {};
}

QString PlayerNames::name(quint32 player) const
{
    const quint32 start = m_starts[player];
    const quint32 end = player + 1 < m_starts.size() ? m_starts[player + 1] : quint32(m_text.size());
    return QString::fromUtf8(m_text.data() + start, end - start);
}

quint32 PlayerNames::lookup(QByteArrayView utf8, size_t hash) const
{
    // Returns the slot index holding the name, or the empty slot where it would go.
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const quint32 v = m_slots[i];
        if (v == 0)
            return quint32(i);
        const quint32 player = v - 1;
        const quint32 start = m_starts[player];
        const quint32 end = player + 1 < m_starts.size() ? m_starts[player + 1] : quint32(m_text.size());
        if (end - start == quint32(utf8.size()) && std::equal(utf8.begin(), utf8.end(), m_text.begin() + qsizetype(start)))
            return quint32(i);
    }
}

quint32 PlayerNames::find(const QString& name) const
{
    if (m_slots.empty())
        return None;
    const QByteArray utf8 = name.toUtf8();
    const quint32 v = m_slots[lookup(utf8, hashOf(utf8))];
    return v == 0 ? None : v - 1;
}

void PlayerNames::grow()
{
    // Kept at most half full.
    std::vector<quint32> old = std::move(m_slots);
    m_slots.assign(std::max<size_t>(1024, old.size() * 2), 0);
    const size_t mask = m_slots.size() - 1;
    for (quint32 player = 0; player < m_starts.size(); ++player) {
        const quint32 start = m_starts[player];
        const quint32 end = player + 1 < m_starts.size() ? m_starts[player + 1] : quint32(m_text.size());
        size_t i = hashOf(QByteArrayView(m_text.data() + start, end - start)) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = player + 1;
    }
}

quint32 PlayerNames::intern(QByteArrayView utf8)
{
    if ((m_starts.size() + 1) * 2 > m_slots.size())
        grow();
    const quint32 at = lookup(utf8, hashOf(utf8));
    if (m_slots[at] != 0)
        return m_slots[at] - 1;
    const quint32 player = quint32(m_starts.size());
    m_starts.push_back(quint32(m_text.size()));
    m_text.append(utf8.constData(), size_t(utf8.size()));
    m_slots[at] = player + 1;
    return player;
}

// ---- RankedOrder

void RankedOrder::clear()
{
    m_blocks = {};
    m_counts = {};
    m_size = 0;
}

void RankedOrder::addCount(size_t block, qint64 delta)
{
    for (size_t i = block + 1; i <= m_counts.size(); i += i & (~i + 1))
        m_counts[i - 1] += delta;
}

void RankedOrder::rebuildCounts()
{
    m_counts.assign(m_blocks.size(), 0);
    for (size_t i = 0; i < m_blocks.size(); ++i)
        addCount(i, qint64(m_blocks[i].size()));
}

size_t RankedOrder::blockOf(const Entry& e) const
{
    // The first block whose last entry does not come before e; the last block when all do.
    size_t lo = 0, hi = m_blocks.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (before(m_blocks[mid].back(), e))
            lo = mid + 1;
        else
            hi = mid;
    }
    return std::min(lo, m_blocks.size() - 1);
}

void RankedOrder::insert(const Entry& e)
{
    if (m_blocks.empty()) {
        m_blocks.push_back({e});
        rebuildCounts();
        m_size = 1;
        return;
    }
    const size_t b = blockOf(e);
    std::vector<Entry>& block = m_blocks[b];
    block.insert(std::upper_bound(block.begin(), block.end(), e, before), e);
    ++m_size;
    if (block.size() >= 2 * BlockSize) {
        std::vector<Entry> upper(block.begin() + qsizetype(BlockSize), block.end());
        block.resize(BlockSize);
        block.shrink_to_fit();
        m_blocks.insert(m_blocks.begin() + qsizetype(b) + 1, std::move(upper));
        rebuildCounts();
    } else {
        addCount(b, 1);
    }
}

void RankedOrder::erase(const Entry& e)
{
    if (m_blocks.empty())
        return;
    const size_t b = blockOf(e);
    std::vector<Entry>& block = m_blocks[b];
    const auto it = std::lower_bound(block.begin(), block.end(), e, before);
    if (it == block.end() || it->id != e.id || it->score != e.score)
        return;
    block.erase(it);
    --m_size;
    if (block.empty()) {
        m_blocks.erase(m_blocks.begin() + qsizetype(b));
        rebuildCounts();
    } else {
        addCount(b, -1);
    }
}

qint64 RankedOrder::position(const Entry& e) const
{
    if (m_blocks.empty())
        return 0;
    const size_t b = blockOf(e);
    qint64 before_ = 0;
    for (size_t i = b; i > 0; i -= i & (~i + 1))
        before_ += m_counts[i - 1];
    const std::vector<Entry>& block = m_blocks[b];
    return before_ + (std::lower_bound(block.begin(), block.end(), e, before) - block.begin());
}

void RankedOrder::assign(std::vector<Entry>&& sorted)
{
    m_blocks.clear();
    m_size = qint64(sorted.size());
    for (size_t from = 0; from < sorted.size(); from += BlockSize) {
        const size_t to = std::min(sorted.size(), from + BlockSize);
        m_blocks.emplace_back(sorted.begin() + qsizetype(from), sorted.begin() + qsizetype(to));
    }
    sorted = {};
    rebuildCounts();
}

// ---- Standings

void Standings::clear()
{
    m_names.clear();
    m_foldHeads = {};
    m_foldNext = {};
    for (Board& b : m_boards) {
        b.order.clear();
        b.byPlayer = {};
        b.loading = {};
    }
}

Standings::Slot* Standings::slot(int index, quint32 player)
{
    std::vector<Slot>& byPlayer = m_boards[size_t(index)].byPlayer;
    if (player >= byPlayer.size())
        byPlayer.resize(std::max<size_t>(player + 1, byPlayer.size() + byPlayer.size() / 2));
    return &byPlayer[player];
}

const Standings::Slot* Standings::slot(int index, quint32 player) const
{
    const std::vector<Slot>& byPlayer = m_boards[size_t(index)].byPlayer;
    if (player == PlayerNames::None || player >= byPlayer.size() || byPlayer[player].score <= 0)
        return nullptr;
    return &byPlayer[player];
}

void Standings::offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at)
{
    if (score <= 0 || index < 0 || index >= BoardSizeCount)
        return;
    const quint32 player = m_names.intern(name);
    Board& b = m_boards[size_t(index)];
    Slot* s = slot(index, player);
    const qint32 value = clampScore(score);
    if (s->score > 0) {
        // Strictly higher replaces a best; an equal score keeps the earlier one.
        if (value < s->score || (value == s->score && id >= s->id))
            return;
        b.order.erase({s->id, s->score, player});
    }
    *s = Slot{id, value, toSeconds(at.toMSecsSinceEpoch())};
    b.order.insert({id, value, player});
}

void Standings::load(int index, QByteArrayView utf8Name, qint64 score, qint64 id, qint64 atMs)
{
    if (score <= 0 || index < 0 || index >= BoardSizeCount)
        return;
    const quint32 player = m_names.intern(utf8Name);
    *slot(index, player) = Slot{id, clampScore(score), toSeconds(atMs)};
    m_boards[size_t(index)].loading.push_back({id, clampScore(score), player});
}

void Standings::reserveLoad(int index, qint64 count)
{
    if (index >= 0 && index < BoardSizeCount)
        m_boards[size_t(index)].loading.reserve(size_t(count));
}

void Standings::finishLoad()
{
    for (Board& b : m_boards) {
        std::sort(b.loading.begin(), b.loading.end(), RankedOrder::before);
        b.order.assign(std::move(b.loading));
        b.loading = {};
        b.byPlayer.resize(m_names.size());
        b.byPlayer.shrink_to_fit();
    }
}

std::optional<Standings::Best> Standings::best(int index, const QString& name) const
{
    if (index < 0 || index >= BoardSizeCount)
        return std::nullopt;
    const Slot* s = slot(index, m_names.find(name));
    if (!s)
        return std::nullopt;
    return Best{s->score, s->id, fromSeconds(s->atSec)};
}

std::optional<BoardRank> Standings::rank(int index, const QString& name) const
{
    if (index < 0 || index >= BoardSizeCount)
        return std::nullopt;
    const quint32 player = m_names.find(name);
    const Slot* s = slot(index, player);
    if (!s)
        return std::nullopt;
    const RankedOrder& order = m_boards[size_t(index)].order;
    return BoardRank{MinBoardSize + index, order.position({s->id, s->score, player}) + 1, order.size()};
}

qint64 Standings::players(int index) const
{
    return index >= 0 && index < BoardSizeCount ? m_boards[size_t(index)].order.size() : 0;
}

QList<RankedEntry> Standings::top(int index, int count) const
{
    QList<RankedEntry> out;
    if (index < 0 || index >= BoardSizeCount)
        return out;
    const Board& board = m_boards[size_t(index)];
    board.order.forFirst(count, [&](const RankedOrder::Entry& e) {
        out.append({m_names.name(e.player), e.score,
                    fromSeconds(board.byPlayer[e.player].atSec), false});
    });
    return out;
}

// ---- TopTens

void TopTens::offer(int index, const QString& name, qint64 score, qint64 id, const QDateTime& at)
{
    if (score <= 0 || index < 0 || index >= BoardSizeCount)
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

QString foldName(const QString& name)
{
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

void Standings::indexFoldedNames() const
{
    const quint32 players = m_names.size();
    if (m_foldNext.size() == players)
        return;
    // Grow the buckets with the players, rehashing everyone; otherwise index only the newcomers.
    quint32 from = quint32(m_foldNext.size());
    if (m_foldHeads.size() < size_t(players) + players / 2) {
        size_t buckets = 1024;
        while (buckets < size_t(players) * 2)
            buckets *= 2;
        m_foldHeads.assign(buckets, 0);
        from = 0;
    }
    m_foldNext.resize(players);
    const size_t mask = m_foldHeads.size() - 1;
    for (quint32 p = from; p < players; ++p) {
        const size_t bucket = qHash(foldName(m_names.name(p)), m_foldSeed) & mask;
        m_foldNext[p] = m_foldHeads[bucket];
        m_foldHeads[bucket] = p + 1;
    }
}

QStringList Standings::namesFolding(const QString& folded) const
{
    indexFoldedNames();
    QStringList out;
    if (m_foldHeads.empty())
        return out;
    const size_t bucket = qHash(folded, m_foldSeed) & (m_foldHeads.size() - 1);
    QList<quint32> players;
    for (quint32 p = m_foldHeads[bucket]; p != 0; p = m_foldNext[p - 1]) {
        if (foldName(m_names.name(p - 1)) == folded)
            players.append(p - 1);
    }
    std::sort(players.begin(), players.end()); // players are numbered in order of arrival
    for (quint32 p : players)
        out.append(m_names.name(p));
    return out;
}

QList<RankedEntry> Standings::ranked(int index, qint64 fromRank, int count) const
{
    QList<RankedEntry> out;
    if (index < 0 || index >= BoardSizeCount || fromRank < 1 || count <= 0)
        return out;
    const Board& board = m_boards[size_t(index)];
    board.order.forRange(fromRank - 1, count, [&](const RankedOrder::Entry& e) {
        out.append({m_names.name(e.player), e.score, fromSeconds(board.byPlayer[e.player].atSec), false});
    });
    return out;
}

} // namespace zimble::server
