// Place names of more than one word ("New York", "United States of
// America"), matched in heard words with case and diacritics folded ("sao
// paulo" is "Sao Paulo", "cote d'ivoire" "Côte d'Ivoire"). Single words are
// the word list's business. Immutable once loaded, so any thread may read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scrivia::formatting {

class NameList;
struct LanguageRules;

struct PlaceMatch {
    std::string_view spelling;  // as the source writes it
    std::size_t words;          // heard words it covers, two or more
};

class PlaceNames {
  public:
    PlaceNames() = default;
    // Each name once, spelled as written; names of one word are left out.
    explicit PlaceNames(std::span<const std::string> names);

    // The longest name `heard` starts with (words in lower case).
    std::optional<PlaceMatch> longestAt(std::span<const std::string_view> heard) const;

    std::size_t size() const { return entries_.size(); }
    std::size_t bytes() const;  // held by the structures, for the benchmark

  private:
    struct Entry {
        std::uint32_t key, spelling;  // offsets into text_
        std::uint16_t keyLength, spellingLength;
    };
    std::string_view keyOf(const Entry& e) const { return {text_.data() + e.key, e.keyLength}; }
    bool hasKeyStartingWith(std::string_view prefix) const;

    std::string text_;            // folded keys and spellings, back to back
    std::vector<Entry> entries_;  // sorted by key
};

// The multi-word places of `rules`' files, with the word list (`lines`,
// loaded as `names`) deciding which subdivisions and cities are names: one
// of their words must be a name ("North Carolina", not "Free State"). An
// unreadable file adds nothing.
PlaceNames loadPlaceNames(const LanguageRules& rules, std::string_view lines,
                          const NameList& names);

// `word` in lower case without its diacritics ("São" → "sao").
std::string folded(std::string_view word);

}  // namespace scrivia::formatting
