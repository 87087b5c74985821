// Any sequence of words the recogniser could give, drawn mostly from the words
// the rules act on (long chains of scales and ordinals, marks at either end,
// units without numbers): formatting never crashes, overflows or reads past
// a word, and a partial never carries more than its final.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "formatting/formatter.h"
#include "formatting/heard_phrases.h"

namespace {

constexpr std::string_view kWords[] = {
    "zero",      "one",     "two",       "nine",    "ten",     "eleven",  "nineteen",    "twenty",
    "ninety",    "hundred", "thousand",  "million", "billion", "first",   "second",      "twelfth",
    "hundredth", "a",       "and",       "point",   "oh",      "dollars", "cents",       "euro",
    "percent",   "o'clock", "a.m.",      "pm",      "am",      "at",      "it's",        "march",
    "may",       "of",      "the",       "long",    "period",  "comma",   "question",    "mark",
    "new",       "line",    "paragraph", "open",    "close",   "quote",   "parenthesis", "colon",
    "i",         "i'm",     "john",      "smith",   "john's",  "paris",   "will",        "\xff\xfe",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace scrivia::formatting;
    static const auto names = loadNameList(Formatter::nameListPath("en_US"));
    static const Formatter punctuated("en_US", names),
        plain("en_US", names, {.punctuation = false});
    // The words above, every mark of the tables and the words they make heard.
    static const auto vocabulary = [] {
        std::vector<std::string_view> all(std::begin(kWords), std::end(kWords));
        for (const SpokenMark& mark : englishRules().marks) all.push_back(mark.words);
        const auto heard = heardPhrases(englishRules()).words;
        all.insert(all.end(), heard.begin(), heard.end());
        return all;
    }();
    std::string words;
    for (std::size_t i = 0; i < size; ++i) {
        if (!words.empty()) words += ' ';
        const std::uint8_t b = data[i];
        if (b < vocabulary.size() * 2) {
            words += vocabulary[b % vocabulary.size()];
        } else {
            words += std::to_string(b);  // digits the dictionary never spells
        }
    }
    for (const Formatter* formatter : {&punctuated, &plain}) {
        const std::string partial = formatter->format(words, TextKind::partial);
        const std::string final = formatter->format(words, TextKind::final, size % 2 == 0);
        if (partial.size() > final.size() + 1 && size % 2 != 0) std::abort();
    }
    return 0;
}
