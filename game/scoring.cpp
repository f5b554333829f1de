#include "scoring.h"

#include <array>
#include <cstdlib>

namespace zimble {

namespace {

// Applies a proportion or blend computed in double to the score and rounds back to fixed point.
FixedPoint scaled(FixedPoint score, double factor)
{
    return FixedPoint::fromDouble(score.toDouble() * factor);
}

} // namespace

FixedPoint computeScore(std::span<const std::int32_t> history, std::int32_t boardSize, std::int32_t timeCount)
{
    const auto n = static_cast<std::int32_t>(history.size());
    const std::int32_t c = n - 1;
    const std::int32_t M = 4 * boardSize * boardSize;
    // 1-based access as in the analysis: H(k) for k = 1..n.
    auto H = [&](std::int32_t k) { return history[static_cast<std::size_t>(k - 1)]; };

    // Matched runs by length. A run is never longer than n; lengths beyond the table are
    // clamped into the last slot rather than written out of bounds.
    std::array<std::int32_t, 1001> runCounts{};
    auto countRun = [&](std::int32_t length) { ++runCounts[static_cast<std::size_t>(length < 1000 ? length : 1000)]; };

    // Forward runs: the stretch from i repeated from j.
    for (std::int32_t i = 1; i <= n; ++i) {
        for (std::int32_t j = i + 1; j <= n; ++j) {
            if (H(i) != H(j))
                continue;
            std::int32_t L = 1;
            for (std::int32_t a = i + 1, b = j + 1; a <= n && b <= n && H(a) == H(b); ++a, ++b)
                ++L;
            countRun(L);
        }
    }
    // Mirrored runs: forwards from i against backwards from j, not stopping where they meet.
    for (std::int32_t i = 1; i <= n; ++i) {
        for (std::int32_t j = i + 1; j <= n; ++j) {
            if (H(i) != H(j))
                continue;
            std::int32_t L = 1;
            for (std::int32_t a = i + 1, b = j - 1; a <= n && b >= 1 && H(a) == H(b); ++a, --b)
                ++L;
            countRun(L);
        }
    }

    std::int64_t base = n;
    for (std::int32_t L = 1; L <= 400; ++L)
        base += static_cast<std::int64_t>(runCounts[static_cast<std::size_t>(L)]) * L * L;
    FixedPoint score = FixedPoint::fromInt(base * 10);

    // Steps between consecutive clicks that stay close in index order.
    std::int32_t nearSteps = 0;
    for (std::int32_t k = 2; k <= n; ++k) {
        if (std::abs(H(k) - H(k - 1)) < boardSize + 2)
            ++nearSteps;
    }
    const double nearFactor = static_cast<double>(M - nearSteps) / M;
    score = scaled(score, nearFactor);

    // Straight runs of three, rising or falling; too few are replaced by c / 2.
    std::int32_t straightTriples = 0;
    for (std::int32_t k = 3; k <= n; ++k) {
        if (H(k - 2) < H(k - 1) && H(k - 1) < H(k))
            ++straightTriples;
        if (H(k - 2) > H(k - 1) && H(k - 1) > H(k))
            ++straightTriples;
    }
    if (static_cast<double>(c) / 3.0 > static_cast<double>(straightTriples))
        straightTriples = toInt32HalfEven(static_cast<double>(c) / 2.0);
    const double straightFactor = static_cast<double>(M - straightTriples) / M;
    score = scaled(score, straightFactor);

    // Playing speed, once the clock has completed a cycle.
    if (timeCount > 0) {
        double D = 0.0;
        if (c * 0.7 < timeCount)
            D = timeCount;
        else
            D = c * 0.7;
        const double S = score.toDouble();
        score = FixedPoint::fromDouble(S * 0.8 + ((S * 0.3) * c) / D);
    }

    score = FixedPoint::fromDouble(score.toDouble() / 4);

    if (score < FixedPoint::fromInt(c))
        score = FixedPoint::fromInt(c);
    return score;
}

} // namespace zimble
