#include "clientkey.h"

#include <QByteArray>

#include <algorithm>

namespace zimble::server {

QString clientKey(const QHostAddress& address, int ipv6Prefix)
{
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ipv4).toString();
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    const int prefix = std::clamp(ipv6Prefix, 1, 128);
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < 16; ++i) {
        const int kept = std::clamp(prefix - 8 * i, 0, 8);
        bytes[i] &= quint8(0xFF00 >> kept);
    }
    return QHostAddress(bytes).toString() + QLatin1Char('/') + QString::number(prefix);
}

std::optional<QHostAddress> lastForwardedAddress(QByteArrayView forwardedFor)
{
    QByteArrayView last = forwardedFor;
    if (const qsizetype comma = last.lastIndexOf(QByteArrayView(",")); comma >= 0)
        last = last.sliced(comma + 1);
    last = last.trimmed();
    if (last.startsWith('[') && last.endsWith(']'))
        last = last.sliced(1, last.size() - 2);
    QHostAddress a;
    if (last.isEmpty() || !a.setAddress(QString::fromLatin1(last)))
        return std::nullopt;
    bool v4 = false;
    const quint32 ipv4 = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ipv4) : a;
}

} // namespace zimble::server
