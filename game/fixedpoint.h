#pragma once
// The program's score type: a signed 64-bit count of ten-thousandths.

#include <cstdint>
#include <string>

namespace zimble {

// Nearest whole number, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);
// roundHalfEven clamped into the 32-bit range (used for needle values, board size, bests sent out).
std::int32_t toInt32HalfEven(double value);

class FixedPoint {
public:
    static constexpr std::int64_t Scale = 10000;

    constexpr FixedPoint() = default;
    static constexpr FixedPoint fromRaw(std::int64_t raw) { FixedPoint f; f.m_raw = raw; return f; }
    static constexpr FixedPoint fromInt(std::int64_t whole) { return fromRaw(whole * Scale); }
    // Nearest multiple of 1/10,000: round-half-even of (value * 10000.0); saturates outside the range.
    static FixedPoint fromDouble(double value);

    constexpr std::int64_t raw() const { return m_raw; }
    double toDouble() const { return static_cast<double>(m_raw) / 10000.0; }

    // Plain decimal text with up to four decimals, trailing zeros dropped ("62.3254", "68.558", "-3", "0").
    std::string toString() const;

    friend constexpr bool operator==(FixedPoint a, FixedPoint b) { return a.m_raw == b.m_raw; }
    friend constexpr bool operator!=(FixedPoint a, FixedPoint b) { return a.m_raw != b.m_raw; }
    friend constexpr bool operator<(FixedPoint a, FixedPoint b) { return a.m_raw < b.m_raw; }
    friend constexpr bool operator>(FixedPoint a, FixedPoint b) { return a.m_raw > b.m_raw; }
    friend constexpr bool operator<=(FixedPoint a, FixedPoint b) { return a.m_raw <= b.m_raw; }
    friend constexpr bool operator>=(FixedPoint a, FixedPoint b) { return a.m_raw >= b.m_raw; }

private:
    std::int64_t m_raw = 0;
};

} // namespace zimble
