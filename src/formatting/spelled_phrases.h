// Phrases written one way whatever case the recogniser hears them in: place
// names ("New York"), a person's own words ("GitHub", "Anouk Dupont"). Heard
// words match with case and diacritics folded ("sao paulo" is "Sao Paulo",
// "cote d'ivoire" "Côte d'Ivoire"). Immutable once made, so any thread may read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scrivia::formatting {

struct PhraseMatch {
    std::string_view spelling;  // as the source writes it
    std::size_t words;          // heard words it covers
};

class SpelledPhrases {
  public:
    SpelledPhrases() = default;
    // Each phrase as written; of two that fold alike the first stands.
    // Phrases of fewer than `fewestWords` words are left out.
    explicit SpelledPhrases(std::span<const std::string> phrases, std::size_t fewestWords = 1);

    // The longest phrase `heard` starts with (words in lower case; an empty
    // word ends the phrase).
    std::optional<PhraseMatch> longestAt(std::span<const std::string_view> heard) const;

    bool empty() const { return entries_.empty(); }
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

// The words of `text`, split at spaces (runs of spaces make no empty word).
std::vector<std::string_view> wordsOf(std::string_view text);

// `word` in lower case without its diacritics ("São" → "sao").
std::string folded(std::string_view word);

}  // namespace scrivia::formatting
