// Decoding speed of aufspalt: bytes of urlencoded input per second, for
// plain text and for text that is mostly %XX escapes.  Every iteration
// copies the input into the work buffer first (decoding is in place); the
// copy alone is measured as BM_kopie for comparison.
// BM_aufspalt_lange_namen decodes a hostile 40 MB form: 10 000 names that
// all land in one bucket and share a 4001-byte prefix, sent in ascending,
// descending or shuffled order.
#include "cgivar.h"
#include "varmap.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

// 100 pairs filling about `bytes` bytes; the value text is repeated from
// `muster`.  100 pairs stay far below the decoder's pair limit.
std::string formular(std::size_t bytes, const std::string &muster)
{
    constexpr int PAARE = 100;
    std::size_t wertlang = bytes / PAARE > 12 ? bytes / PAARE - 12 : 1;
    std::string wert;
    while (wert.size() < wertlang)
        wert += muster;
    wert.resize(wertlang - wertlang % muster.size() + muster.size());
    std::string f;
    for (int i = 0; i < PAARE; ++i)
        f += (i ? "&feld" : "feld") + std::to_string(i) + "=" + wert;
    return f;
}

void lauf(benchmark::State &state, const std::string &muster)
{
    const std::string f = formular(static_cast<std::size_t>(state.range(0)), muster);
    std::vector<char> puffer(f.size() + 1);
    Varmap tab;
    for (auto _ : state) {
        std::copy(f.begin(), f.end(), puffer.begin());
        puffer[f.size()] = '\0';
        aufspalt(&tab, puffer.data(), static_cast<int>(f.size()));
        benchmark::DoNotOptimize(puffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.size()));
}

// Letters and digits only: every byte is copied as it is.
void BM_aufspalt_ohne_escapes(benchmark::State &state)
{
    lauf(state, "Wert1234abcdXYZ");
}

// Umlauts, separators and blanks as a browser sends them: %XX and '+'.
void BM_aufspalt_mit_escapes(benchmark::State &state)
{
    lauf(state, "%E4%F6%FC%DF+%26%3D%25+");
}

void BM_kopie(benchmark::State &state)
{
    const std::string f = formular(static_cast<std::size_t>(state.range(0)), "Wert1234abcdXYZ");
    std::vector<char> puffer(f.size() + 1);
    for (auto _ : state) {
        std::copy(f.begin(), f.end(), puffer.begin());
        benchmark::DoNotOptimize(puffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.size()));
}

// 10 000 pairs 'a' + 4000 x 'x' + six digits + 'z' = '1': first and last
// byte equal, so one bucket, and every comparison of two names reads the
// common 4001 bytes.  reihenfolge: 0 ascending, 1 descending, 2 shuffled.
std::string lange_namen(long reihenfolge)
{
    constexpr int PAARE = 10000;
    std::vector<int> nummern(PAARE);
    std::iota(nummern.begin(), nummern.end(), 0);
    if (reihenfolge == 1)
        std::reverse(nummern.begin(), nummern.end());
    if (reihenfolge == 2)
        std::shuffle(nummern.begin(), nummern.end(), std::mt19937(4711));
    const std::string mitte(4000, 'x');
    std::string f;
    f.reserve(static_cast<std::size_t>(PAARE) * 4012);
    char ziffern[16];
    for (int i : nummern) {
        std::snprintf(ziffern, sizeof ziffern, "%06d", i);
        f += f.empty() ? "a" : "&a";
        f += mitte;
        f += ziffern;
        f += "z=1";
    }
    return f;
}

// Each iteration decodes into a fresh map (its release included), so every
// pair is a new entry.
void BM_aufspalt_lange_namen(benchmark::State &state)
{
    const std::string f = lange_namen(state.range(0));
    std::vector<char> puffer(f.size() + 1);
    for (auto _ : state) {
        std::copy(f.begin(), f.end(), puffer.begin());
        puffer[f.size()] = '\0';
        Varmap tab;
        aufspalt(&tab, puffer.data(), static_cast<int>(f.size()));
        benchmark::DoNotOptimize(&tab);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.size()));
}

} // namespace

BENCHMARK(BM_aufspalt_lange_namen)
    ->ArgName("reihenfolge")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_aufspalt_ohne_escapes)->RangeMultiplier(64)->Range(1 << 10, 1 << 22);
BENCHMARK(BM_aufspalt_mit_escapes)->RangeMultiplier(64)->Range(1 << 10, 1 << 22);
BENCHMARK(BM_kopie)->RangeMultiplier(64)->Range(1 << 10, 1 << 22);
