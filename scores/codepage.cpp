#include "codepage.h"

#include <QList>
#include <QStringDecoder>

#include <array>

namespace zimble {

namespace {

// 0x80..0x9F. The five bytes Windows leaves unassigned map to the C1 controls of the same value,
// as Windows itself does, so every byte survives a round trip.
constexpr std::array<char16_t, 32> High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char encodeOne(uint cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (std::size_t i = 0; i < High.size(); ++i) {
        if (High[i] == cp)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray toCp1252(const QString& text)
{
    // At most one byte per UTF-16 unit: a surrogate pair (outside the code page) becomes one '?',
    // as does a lone surrogate.
    QByteArray out(text.size(), Qt::Uninitialized);
    char* to = out.data();
    const char16_t* from = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* end = from + text.size();
    while (from < end) {
        const char16_t c = *from++;
        if (c < 0x80) {
            *to++ = static_cast<char>(c);
        } else if (QChar::isHighSurrogate(c) && from < end && QChar::isLowSurrogate(*from)) {
            ++from;
            *to++ = '?';
        } else {
            *to++ = encodeOne(c);
        }
    }
    out.truncate(to - out.constData());
    return out;
}

QString fromCp1252(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.append(b >= 0x80 && b <= 0x9F ? QChar(High[b - 0x80]) : QChar(b));
    }
    return out;
}

QString decodeName(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? fromCp1252(bytes) : text;
}

} // namespace zimble
