// What a word list (one word per line, such as /usr/share/dict/american-english)
// knows about capitals: which words it holds only capitalised ("John",
// "NASA", "iPod") and which both ways ("Smith" and "smith"); and, loaded with
// it, the language's place names of more than one word. Immutable once
// loaded, so any thread may read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formatting/place_names.h"

namespace scrivia::formatting {

struct NameSpelling {
    std::string_view spelling;  // as the list writes it
    bool alsoLowerCase;         // the list holds the word in lower case too
};

class NameList {
  public:
    // From the list's lines; any order, duplicates allowed.
    explicit NameList(std::string_view lines);

    // The capitalised spelling of `lowerCaseWord`, if the list has one.
    std::optional<NameSpelling> find(std::string_view lowerCaseWord) const;

    // Empty unless loaded by `loadNameList` for a language with place files.
    const SpelledPhrases& places() const { return places_; }

    std::size_t size() const { return entries_.size(); }
    // Bytes held by the structures, places included, for the benchmark.
    std::size_t bytes() const;

  private:
    struct Entry {
        std::uint32_t key, spelling;  // offsets into text_
        std::uint16_t keyLength, spellingLength;
        bool alsoLowerCase;
    };
    std::string_view keyOf(const Entry& e) const { return {text_.data() + e.key, e.keyLength}; }

    std::string text_;            // lower-cased keys and spellings, back to back
    std::vector<Entry> entries_;  // sorted by key
    SpelledPhrases places_;

    friend std::shared_ptr<const NameList> loadNameList(const std::string& path);
};

// The word list at `path`, with the place names of the language that reads
// it; null when the list cannot be read.
std::shared_ptr<const NameList> loadNameList(const std::string& path);

// `word` in lower case, letter by letter (UTF-8; other bytes unchanged).
std::string lowerCase(std::string_view word);

// `word` with its first letter a capital; bytes that are not UTF-8 stay as they are.
std::string withCapital(std::string_view word);

}  // namespace scrivia::formatting
