#pragma once
// Times as the store keeps them: ISO 8601 in UTC with milliseconds, "2026-05-04T12:30:00.000Z".

#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <QVariant>

#include <optional>

namespace zimble::server {

// Now, as the store writes times.
inline QString isoNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

// A time the store wrote.
inline QDateTime fromIso(const QVariant& v)
{
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

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

// The same as QDateTime's Qt::ISODateWithMs in UTC for years 0 to 9999, without its formatter.
inline QByteArray utcIsoLatin1(qint64 ms)
{
    const qint64 days = ms >= 0 ? ms / 86400000 : (ms - 86399999) / 86400000;
    const qint64 inDay = ms - days * 86400000;
    int y, m, d;
    QDate::fromJulianDay(days + 2440588).getDate(&y, &m, &d);
    if (y < 0 || y > 9999)
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
    char text[25];
    const int fields[] = {y / 1000, y / 100 % 10, y / 10 % 10, y % 10};
    auto two = [&](int at, int v) {
        text[at] = char('0' + v / 10);
        text[at + 1] = char('0' + v % 10);
    };
    for (int i = 0; i < 4; ++i)
        text[i] = char('0' + fields[i]);
    text[4] = '-';
    two(5, m);
    text[7] = '-';
    two(8, d);
    text[10] = 'T';
    two(11, int(inDay / 3600000));
    text[13] = ':';
    two(14, int(inDay / 60000 % 60));
    text[16] = ':';
    two(17, int(inDay / 1000 % 60));
    text[19] = '.';
    const int msPart = int(inDay % 1000);
    text[20] = char('0' + msPart / 100);
    two(21, msPart % 100);
    text[23] = 'Z';
    return QByteArray(text, 24);
}

inline QString utcIso(qint64 ms)
{
    return QString::fromLatin1(utcIsoLatin1(ms));
}

} // namespace zimble::server
