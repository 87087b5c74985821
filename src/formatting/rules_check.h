// What makes a language's tables unusable, found where they are written: a
// language's rules are checked at compile time where they are defined, and
// the same check names the bad field in tests.
#pragma once

#include <string_view>

#include "formatting/language_rules.h"

namespace scrivia::formatting {

namespace detail {

// Whether `table` holds exactly `first`, `first + step`, ... `last`, in order.
constexpr bool runs(std::span<const NumberWord> table, std::uint64_t first, std::uint64_t step,
                    std::uint64_t last) {
    if (table.empty()) return true;
    if (table.size() != (last - first) / step + 1) return false;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].word.empty() || table[i].value != first + i * step) return false;
    return true;
}

}  // namespace detail

// The field that makes `r` unusable, with why; empty when `r` is usable.
constexpr std::string_view rulesProblem(const LanguageRules& r) {
    if (!detail::runs(r.units, 0, 1, 9)) return "units: not the words for 0 to 9";
    if (!detail::runs(r.teens, 10, 1, 19)) return "teens: not the words for 10 to 19";
    if (!detail::runs(r.tens, 20, 10, 90)) return "tens: not the words for 20 to 90";
    if (!detail::runs(r.unitOrdinals, 1, 1, 9)) return "unitOrdinals: not 1st to 9th";
    if (!detail::runs(r.teenOrdinals, 10, 1, 19)) return "teenOrdinals: not 10th to 19th";
    if (!detail::runs(r.tenOrdinals, 20, 10, 90)) return "tenOrdinals: not 20th to 90th";
    // Every number written as an ordinal needs its suffix.
    if (!r.ordinalSuffixes.empty()) {
        for (std::uint64_t n = 0; n < 1000; ++n) {
            bool found = false;
            for (const OrdinalSuffix& s : r.ordinalSuffixes) {
                const auto rest = s.modulus == 0 ? n : n % s.modulus;
                found = found || (rest >= s.from && rest <= s.to);
            }
            if (!found) return "ordinalSuffixes: a number has no suffix";
        }
    }
    if (r.yearPairFrom > r.yearPairTo) return "yearPairFrom: after yearPairTo";
    for (std::size_t i = 0; i < r.marks.size(); ++i) {
        const SpokenMark& m = r.marks[i];
        if (m.words.empty() || m.mark.empty()) return "marks: a row without words or mark";
        if (m.words.front() == ' ' || m.words.back() == ' ' ||
            m.words.find("  ") != std::string_view::npos)
            return "marks: words not one space apart";
        for (std::size_t j = 0; j < i; ++j)
            if (r.marks[j].words == m.words) return "marks: a phrase given twice";
    }
    if (r.closingMark.empty() && !r.closedBy.empty()) return "closingMark: empty";
    for (const SpelledWord& t : r.titles)
        if (t.heard.empty() || t.written.empty()) return "titles: a row without a word";
    return {};
}

}  // namespace scrivia::formatting
