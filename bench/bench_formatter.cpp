// What the dictation text formatter costs: loading the English word list and
// place names once (time, the memory it keeps, the heap's peak while
// loading) and formatting a sentence on the recognition worker.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "formatting/formatter.h"
#include "formatting/language_rules.h"

// Every heap byte this program holds, and the most it has held since the
// last `restartPeak`: the loaders' peak, which resident memory hides behind
// pages the allocator keeps.
namespace {
std::atomic<std::size_t> heapNow{0}, heapPeak{0};
void* counted(void* p) {
    if (!p) throw std::bad_alloc();
    const auto now = heapNow += malloc_usable_size(p);
    auto peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}
[[gnu::noinline]] void uncounted(void* p) {
    heapNow -= malloc_usable_size(p);
    std::free(p);
}
void restartPeak() {
    heapPeak = heapNow.load();
}
}  // namespace
void* operator new(std::size_t n) {
    return counted(std::malloc(std::max<std::size_t>(n, 1)));
}
void operator delete(void* p) noexcept {
    uncounted(p);
}
void operator delete(void* p, std::size_t) noexcept {
    uncounted(p);
}

namespace {

using namespace scrivia::formatting;

const std::string kList = "/usr/share/dict/american-english";

// The process's resident memory now, in KiB.
double residentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
    return 0;
}

void BM_NameListLoad(benchmark::State& state) {
    std::shared_ptr<const NameList> list;
    double grown = 0;
    for (auto _ : state) {
        list.reset();
        const double before = residentKib();
        list = loadNameList(kList);
        grown = residentKib() - before;
        if (!list) state.SkipWithError("the word list did not load (package wamerican)");
    }
    if (!list) return;
    state.counters["names"] = static_cast<double>(list->size());
    state.counters["kept_kib"] = static_cast<double>(list->bytes()) / 1024.0;
    state.counters["places"] = static_cast<double>(list->places().size());
    // The allocator may keep freed pages, so this is a rough upper figure.
    state.counters["rss_growth_kib"] = grown;
}
BENCHMARK(BM_NameListLoad)->Iterations(5)->Unit(benchmark::kMillisecond);

// The place names alone (iso-codes and tzdata), which the word list's load
// includes: what they keep, and the heap's peak above what it held before.
void BM_PlaceNamesLoad(benchmark::State& state) {
    std::ifstream in(kList, std::ios::binary);
    const std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const NameList list(lines);
    SpelledPhrases places;
    std::size_t peak = 0;
    for (auto _ : state) {
        places = SpelledPhrases();
        const std::size_t before = heapNow;
        restartPeak();
        places = loadPlaceNames(englishRules(), lines, list);
        peak = heapPeak - before;
    }
    if (places.size() == 0) state.SkipWithError("no place names (packages iso-codes, tzdata)");
    state.counters["places"] = static_cast<double>(places.size());
    state.counters["kept_kib"] = static_cast<double>(places.bytes()) / 1024.0;
    state.counters["peak_heap_kib"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_PlaceNamesLoad)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_FormatSentence(benchmark::State& state) {
    const Formatter formatter("en", loadNameList(kList));
    const std::string_view sentences[] = {
        "i told john i would call on monday",
        "it costs twenty five dollars and fifty cents",
        "sales grew by ten percent in nineteen ninety nine",
        "the meeting is on march twenty first at three o'clock",
        "hello comma how are you question mark",
        "thanks period new paragraph see you soon",
        "we met doctor smith in new york last march",
        "he was not an ill disposed young man but he was rather cold hearted and rather selfish",
    };
    std::size_t i = 0;
    for (auto _ : state) {
        auto text = formatter.format(sentences[i++ % std::size(sentences)], TextKind::final);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatSentence)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
