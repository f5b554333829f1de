#pragma once
// Times as the store keeps them: ISO 8601 in UTC with milliseconds, "2026-05-04T12:30:00.000Z".

#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <optional>

namespace zimble::server {

// Milliseconds since the epoch of "YYYY-MM-DDTHH:MM:SS[.fraction]Z" (also with "+00:00"), read
// without QDateTime's general parser, which costs more than the rest of a row; nullopt for
// anything else or an impossible date or time.
inline std::optional<qint64> parseUtcIso(QByteArrayView s)
{
    auto digits = [&](qsizetype at, qsizetype n, int* out) {
        if (at + n > s.size())
            return false;
        int v = 0;
        for (qsizetype i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            v = v * 10 + (s[i] - '0');
        }
        *out = v;
        return true;
    };
    int y, mo, d, h, mi, sec;
    if (!digits(0, 4, &y) || s.size() < 20 || s[4] != '-' || !digits(5, 2, &mo) || s[7] != '-' || !digits(8, 2, &d)
        || s[10] != 'T' || !digits(11, 2, &h) || s[13] != ':' || !digits(14, 2, &mi) || s[16] != ':' || !digits(17, 2, &sec))
        return std::nullopt;
    qsizetype at = 19;
    int ms = 0;
    if (s[at] == '.') {
        int scale = 100;
        ++at;
        const qsizetype first = at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            ms += (s[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == first)
            return std::nullopt;
    }
    const QByteArrayView zone = s.sliced(at);
    if (zone != "Z" && zone != "+00:00")
        return std::nullopt;
    if (h > 23 || mi > 59 || sec > 59 || !QDate::isValid(y, mo, d))
        return std::nullopt;
    return (QDate(y, mo, d).toJulianDay() - 2440588) * qint64(86400000) + ((h * 60 + mi) * 60 + sec) * qint64(1000) + ms;
}

inline QString utcIso(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace zimble::server
