#pragma once
// The answers for player pages and the JSON API, kept to be sent again until what they show changes.

#include <QByteArray>
#include <QHash>

namespace zimble::server {

// One answer as it is kept and sent: the plain body, its gzip form when worth it, and a tag
// for each (the gzip form is another representation, so it has a tag of its own).
struct CachedReply {
    int status = 200;
    QByteArray type;
    QByteArray body;
    bool api = false;
    QByteArray tag = {};     // of the plain body; empty unless found (200)
    QByteArray gzipBody = {}; // empty when not worth it
    QByteArray gzipTag = {};
    bool script = false;     // a page that runs the service's own script (the replay page)

    // Fills in the tags and the gzip form of a found answer.
    void prepare();
    // Only found answers and "not found" may be kept: "busy" and other failures pass.
    bool keepable() const { return status == 200 || status == 404; }
    qsizetype bytes() const { return body.size() + gzipBody.size(); }
};

// Invariant: it holds only answers made since it was last emptied (one made from data read
// before that is refused, as it may be out of date), only found and "not found" answers, and
// never more than MaxEntries answers or MaxBytes bytes, counting every body it holds, plain and
// gzip.
class ReplyCache {
public:
    static constexpr qsizetype MaxEntries = 4096;
    static constexpr qsizetype MaxBytes = 32 * 1024 * 1024;

    // The answer kept under `key`, or null.
    const CachedReply* find(const QByteArray& key) const;
    // A token to hand back to insert(): which emptying the answer's data was read after.
    quint64 generation() const { return m_generation; }
    // Keeps the answer unless the cache was emptied since `generation` or it may not be kept;
    // past a limit the cache starts afresh. Whether it was kept.
    bool insert(const QByteArray& key, const CachedReply& reply, quint64 generation);
    // Forgets every answer, and refuses those being made from data read before now.
    void clear();
    qsizetype bytes() const { return m_bytes; }
    qsizetype size() const { return m_replies.size(); }

private:
    QHash<QByteArray, CachedReply> m_replies;
    qsizetype m_bytes = 0;
    quint64 m_generation = 0;
};

} // namespace zimble::server
