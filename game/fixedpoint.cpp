#include "fixedpoint.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace zimble {

double roundHalfEven(double value)
{
    // nearbyint honours the current rounding mode; make sure it is round-to-nearest-even.
    const int previous = std::fegetround();
    if (previous != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    if (previous != FE_TONEAREST)
        std::fesetround(previous);
    return r;
}

std::int32_t toInt32HalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    const double r = roundHalfEven(value);
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

FixedPoint FixedPoint::fromDouble(double value)
{
    if (std::isnan(value))
        return {};
    const double scaled = roundHalfEven(value * 10000.0);
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double limit = 9223372036854775808.0;
    if (scaled >= limit)
        return fromRaw(std::numeric_limits<std::int64_t>::max());
    if (scaled < -limit)
        return fromRaw(std::numeric_limits<std::int64_t>::min());
    return fromRaw(static_cast<std::int64_t>(scaled));
}

std::string FixedPoint::toString() const
{
    const bool negative = m_raw < 0;
    // Work in unsigned so that the most negative value formats too.
    const std::uint64_t magnitude = negative ? (0 - static_cast<std::uint64_t>(m_raw)) : static_cast<std::uint64_t>(m_raw);
    std::string text = std::to_string(magnitude / Scale);
    std::uint64_t fraction = magnitude % Scale;
    if (fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 4 - digits.size(), '0');
        while (!digits.empty() && digits.back() == '0')
            digits.pop_back();
        text += '.' + digits;
    }
    return negative ? '-' + text : text;
}

} // namespace zimble
