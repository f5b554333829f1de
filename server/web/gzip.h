#pragma once
// gzip (RFC 1952) for answers that are cached and sent many times: browsers ask for it, and a
// page a sixth of its size costs the service and the players' connections less.

#include <QByteArray>

namespace zimble::server {

// The data in gzip format at zlib's default level; empty when zlib fails.
QByteArray gzipCompressed(const QByteArray& data);

// A strong ETag for the gzip form of what `tag` names: the same quoted text with "-gz" added.
QByteArray gzipTag(const QByteArray& tag);

} // namespace zimble::server
