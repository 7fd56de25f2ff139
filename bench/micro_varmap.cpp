// Varmap at 10 to 10 000 entries: building a map (insert, including its
// release at the end of each iteration), looking every name up, and a full
// walk.  "verteilt" names vary first and last letters as form fields do and
// spread over the buckets; "ein_bucket" names all share one bucket and come
// in ascending order; "lang" names do too and share a 4001-byte prefix
// ('a' + 4000 x 'x' + six digits + 'z'), so every comparison reads it.
#include "varmap.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

enum class Art { verteilt, ein_bucket, lang };

std::vector<std::string> namen(long n, Art art)
{
    std::vector<std::string> v;
    const std::string mitte(4000, 'x');
    char text[32];
    for (long i = 0; i < n; ++i) {
        if (art == Art::lang)
            std::snprintf(text, sizeof text, "%06ldz", i);
        else if (art == Art::ein_bucket)
            std::snprintf(text, sizeof text, "a%06ldb", i);
        else
            std::snprintf(text, sizeof text, "%cfeld%ld%c", static_cast<char>('a' + i % 26), i,
                          static_cast<char>('a' + (i / 26) % 26));
        v.emplace_back(art == Art::lang ? "a" + mitte + text : std::string(text));
    }
    return v;
}

void einfuegen(benchmark::State &state, Art art)
{
    const auto v = namen(state.range(0), art);
    for (auto _ : state) {
        Varmap tab;
        for (const auto &n : v)
            tab.insert(n.c_str(), "wert");
        benchmark::DoNotOptimize(&tab);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_insert_verteilt(benchmark::State &state) { einfuegen(state, Art::verteilt); }
void BM_insert_ein_bucket(benchmark::State &state) { einfuegen(state, Art::ein_bucket); }
void BM_insert_lang(benchmark::State &state) { einfuegen(state, Art::lang); }

void nachschlagen(benchmark::State &state, Art art)
{
    const auto v = namen(state.range(0), art);
    Varmap tab;
    for (const auto &n : v)
        tab.insert(n.c_str(), "wert");
    for (auto _ : state)
        for (const auto &n : v)
            benchmark::DoNotOptimize(tab[n.c_str()]);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_lookup_verteilt(benchmark::State &state) { nachschlagen(state, Art::verteilt); }
void BM_lookup_ein_bucket(benchmark::State &state) { nachschlagen(state, Art::ein_bucket); }
void BM_lookup_lang(benchmark::State &state) { nachschlagen(state, Art::lang); }

void BM_walk(benchmark::State &state)
{
    const auto v = namen(state.range(0), Art::verteilt);
    Varmap tab;
    for (const auto &n : v)
        tab.insert(n.c_str(), "wert");
    for (auto _ : state) {
        std::size_t laenge = 0;
        Varmapiter it(&tab);
        for (; it() != nullptr; it.next()) {
            const char *name;
            const char *wert;
            it.inhalt(name, wert);
            laenge += static_cast<unsigned char>(name[0]) + static_cast<unsigned char>(wert[0]);
        }
        benchmark::DoNotOptimize(laenge);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(BM_insert_verteilt)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_insert_ein_bucket)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_insert_lang)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_lookup_verteilt)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_lookup_ein_bucket)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_lookup_lang)->RangeMultiplier(10)->Range(10, 10000);
BENCHMARK(BM_walk)->RangeMultiplier(10)->Range(10, 10000);
