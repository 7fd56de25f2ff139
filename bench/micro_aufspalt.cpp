// Decoding speed of aufspalt: bytes of urlencoded input per second, for
// plain text and for text that is mostly %XX escapes.  Every iteration
// copies the input into the work buffer first (decoding is in place); the
// copy alone is measured as BM_kopie for comparison.
#include "cgivar.h"
#include "varmap.h"

#include <benchmark/benchmark.h>
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

} // namespace

BENCHMARK(BM_aufspalt_ohne_escapes)->RangeMultiplier(64)->Range(1 << 10, 1 << 22);
BENCHMARK(BM_aufspalt_mit_escapes)->RangeMultiplier(64)->Range(1 << 10, 1 << 22);
BENCHMARK(BM_kopie)->RangeMultiplier(64)->Range(1 << 10, 1 << 22);
