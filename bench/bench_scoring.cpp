// computeScore on complete 7 x 7 game histories (196 clicks) shaped to make the run scans work
// hardest: every button four times, arranged so that equal clicks start long matching runs.

#include "game/scoring.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using History = std::vector<std::int32_t>;

// 0..48 four times over, every other pass backwards when `zigzag` is set. Without it every
// equal pair extends to the end of the history (forward scan); with it mirrored runs are long too.
History sweeps(bool zigzag)
{
    History h;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 49; ++b)
            h.push_back(zigzag && round % 2 ? 48 - b : b);
    return h;
}

// Each button four times in a row.
History quads()
{
    History h;
    for (int b = 0; b < 49; ++b)
        for (int k = 0; k < 4; ++k)
            h.push_back(b);
    return h;
}

void run(benchmark::State& state, const History& h)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(zimble::computeScore(h, 7, 100));
    state.counters["clicks"] = static_cast<double>(h.size());
}

void BM_ScoreRepeatedSweep(benchmark::State& s) { run(s, sweeps(false)); }
void BM_ScoreZigzag(benchmark::State& s) { run(s, sweeps(true)); }
void BM_ScoreQuads(benchmark::State& s) { run(s, quads()); }

// A whole game's scoring: one analysis after every click, 1 to 196 clicks long.
void BM_WholeGameZigzag(benchmark::State& state)
{
    const History h = sweeps(true);
    for (auto _ : state) {
        for (std::size_t n = 1; n <= h.size(); ++n)
            benchmark::DoNotOptimize(zimble::computeScore(std::span(h.data(), n), 7, 10));
    }
}

} // namespace

BENCHMARK(BM_ScoreRepeatedSweep);
BENCHMARK(BM_ScoreZigzag);
BENCHMARK(BM_ScoreQuads);
BENCHMARK(BM_WholeGameZigzag)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
