// What the dictation text formatter costs: loading the English word list once
// (time, and the memory it keeps) and formatting a sentence on the
// recognition worker.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "formatting/formatter.h"

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
    // The allocator may keep freed pages, so this is a rough upper figure.
    state.counters["rss_growth_kib"] = grown;
}
BENCHMARK(BM_NameListLoad)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_FormatSentence(benchmark::State& state) {
    const Formatter formatter("en_US", loadNameList(kList));
    const std::string_view sentences[] = {
        "i told john i would call on monday",
        "it costs twenty five dollars and fifty cents",
        "sales grew by ten percent in nineteen ninety nine",
        "the meeting is on march twenty first at three o'clock",
        "hello comma how are you question mark",
        "thanks period new paragraph see you soon",
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
