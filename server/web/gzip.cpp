#include "gzip.h"

#include <zlib.h>

namespace zimble::server {

QByteArray gzipCompressed(const QByteArray& data)
{
    z_stream stream{};
    // 15 window bits plus 16: a gzip header and trailer instead of zlib's.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    const qsizetype written = qsizetype(stream.total_out);
    deflateEnd(&stream);
    if (rc != Z_STREAM_END)
        return {};
    out.truncate(written);
    return out;
}

QByteArray gzipTag(const QByteArray& tag)
{
    if (tag.size() < 2 || !tag.endsWith('"'))
        return tag;
    return tag.left(tag.size() - 1) + "-gz\"";
}

} // namespace zimble::server
