#include "replycache.h"

#include "server/web/gzip.h"

#include <QCryptographicHash>

namespace zimble::server {

namespace {

// Answers shorter than this go out as they are: gzip would save too little to matter.
constexpr qsizetype MinGzipBytes = 1024;

QByteArray tagOf(const QByteArray& body)
{
    return '"' + QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex().left(24) + '"';
}

} // namespace

void CachedReply::prepare()
{
    if (status != 200)
        return;
    tag = tagOf(body);
    // Sent many times from the cache: compressed once, when it pays.
    if (body.size() >= MinGzipBytes)
        gzipBody = gzipCompressed(body);
    if (!gzipBody.isEmpty())
        gzipTag = server::gzipTag(tag);
}

const CachedReply* ReplyCache::find(const QByteArray& key) const
{
    const auto hit = m_replies.constFind(key);
    return hit == m_replies.constEnd() ? nullptr : &*hit;
}

bool ReplyCache::insert(const QByteArray& key, const CachedReply& reply, quint64 generation)
{
    if (!reply.keepable() || generation != m_generation || reply.bytes() > MaxBytes)
        return false;
    if (const auto old = m_replies.constFind(key); old != m_replies.constEnd()) {
        m_bytes -= old->bytes();
        m_replies.erase(old);
    }
    if (m_replies.size() >= MaxEntries || m_bytes + reply.bytes() > MaxBytes) {
        m_replies.clear();
        m_bytes = 0;
    }
    m_replies.insert(key, reply);
    m_bytes += reply.bytes();
    return true;
}

void ReplyCache::clear()
{
    m_replies.clear();
    m_bytes = 0;
    ++m_generation;
}

} // namespace zimble::server
