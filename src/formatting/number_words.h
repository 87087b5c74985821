// Spoken numbers read from a word sequence with a language's number tables,
// and written as digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "formatting/language_rules.h"

namespace scrivia::formatting {

struct SpokenNumber {
    std::size_t end = 0;              // one past its last word
    std::uint64_t value = 0;          // the whole part
    std::string decimals = {};        // digits after the decimal word ("three point five")
    bool ordinal = false;             // "twenty first"
    std::string_view scaleWord = {};  // kept as a word: "two million" → 2 million
};

// The number that starts at `words[at]`, if one does. It reads as far as
// the words make one number: "two hundred and five" is one, "five six" two.
std::optional<SpokenNumber> readNumber(const LanguageRules& rules, Words words, std::size_t at);

// A two-digit group starting at `words[at]` ("ninety nine", "twelve",
// "oh five" when `zeroFirst`): its value and end.
std::optional<std::pair<std::uint64_t, std::size_t>> readPair(const LanguageRules& rules,
                                                              Words words, std::size_t at,
                                                              bool zeroFirst);

// `n` in digits, grouped from `rules.groupFrom` on.
std::string digits(const LanguageRules& rules, std::uint64_t n);

// `number` written: digits, decimals, the ordinal suffix and a kept scale word.
std::string written(const LanguageRules& rules, const SpokenNumber& number);

}  // namespace scrivia::formatting
