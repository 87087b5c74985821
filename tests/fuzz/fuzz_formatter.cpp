// Any sequence of words the recogniser could give, drawn mostly from the words
// the English tables act on (long chains of scales and ordinals, marks at
// either end, units without numbers): formatting never crashes, overflows or
// reads past a word, and a partial never carries more than its final.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "formatting/formatter.h"
#include "formatting/language_rules.h"

namespace {

using namespace scrivia::formatting;

// Every phrase of the English tables, so a new row is fuzzed as soon as it is
// added, and a few words no table holds: names, a possessive, bytes that are
// not UTF-8. A phrase of several words is picked whole.
std::vector<std::string_view> tableWords() {
    const LanguageRules& r = englishRules();
    std::vector<std::string_view> words{"john's",    "\xff\xfe",    r.one,       r.numberJoiner,
                                        r.zeroDigit, r.decimalWord, r.dayOfMonth};
    const auto add = [&](auto table, auto field) {
        for (const auto& row : table) words.push_back(row.*field);
    };
    for (auto t : {r.units, r.teens, r.tens, r.scales, r.unitOrdinals, r.teenOrdinals,
                   r.tenOrdinals, r.scaleOrdinals, r.decades})
        add(t, &NumberWord::word);
    for (auto t : {r.currencies, r.percents}) add(t, &UnitWord::word);
    for (auto t : {r.dayHalves, r.fixedSpellings, r.titles}) add(t, &SpelledWord::heard);
    add(r.marks, &SpokenMark::words);
    for (const SpokenMark& m : r.marks)
        words.insert(words.end(), m.alsoNounAfter.begin(), m.alsoNounAfter.end());
    for (Words t :
         {r.oneScales, r.subunits, r.clockWords, r.timeIntroducers, r.months, r.monthVerbSubjects,
          r.markNounMakers, r.nounMakersBeforeMore, r.neverAfterName, r.usuallyNames, r.rareWords})
        words.insert(words.end(), t.begin(), t.end());
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto kWords = tableWords();
    static const auto names = loadNameList(Formatter::nameListPath("en"));
    static const Formatter punctuated("en", names), plain("en", names, {.punctuation = false});
    std::string words;
    for (std::size_t i = 0; i < size; ++i) {
        if (!words.empty()) words += ' ';
        // One byte picks one of the first 128 words, two bytes any of them.
        std::size_t pick = data[i];
        if (pick >= 0x80 && i + 1 < size) pick = (pick & 0x7f) << 8 | data[++i];
        pick %= kWords.size() + 8;
        if (pick < kWords.size()) {
            words += kWords[pick];
        } else {
            words += std::to_string(data[i]);  // digits the dictionary never spells
        }
    }
    for (const Formatter* formatter : {&punctuated, &plain}) {
        const std::string partial = formatter->format(words, TextKind::partial);
        const std::string final = formatter->format(words, TextKind::final, size % 2 == 0);
        if (partial.size() > final.size() + 1 && size % 2 != 0) std::abort();
    }
    return 0;
}
