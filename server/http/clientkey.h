#pragma once
// Who a connection or a request is counted as, for rate limits and the connections of one
// client: an IPv4 address whole, an IPv6 address by its network prefix (a /64 by default), as
// one site is given a /64 and can pick any of its 2^64 addresses for each connection.

#include <QByteArrayView>
#include <QHostAddress>
#include <QString>

#include <optional>

namespace zimble::server {

constexpr int DefaultIpv6Prefix = 64;

// "192.0.2.7" for IPv4 (and IPv4-mapped IPv6), "2001:db8:1:2::/64" for IPv6 with `ipv6Prefix`
// leading bits kept (1 to 128) and no scope; the empty text for no address.
QString clientKey(const QHostAddress& address, int ipv6Prefix = DefaultIpv6Prefix);

// The last address of an X-Forwarded-For value (the one the nearest proxy saw), IPv4 as IPv4 and
// "[...]" around IPv6 allowed; nothing when the value is empty or its last item is not an address.
std::optional<QHostAddress> lastForwardedAddress(QByteArrayView forwardedFor);

} // namespace zimble::server
