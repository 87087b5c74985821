#include "formatting/spelled_phrases.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

#include "formatting/name_list.h"

namespace scrivia::formatting {

std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const auto space = text.find(' ');
        if (space != 0) words.push_back(text.substr(0, space));
        if (space == std::string_view::npos) break;
        text.remove_prefix(space + 1);
    }
    return words;
}

std::string folded(std::string_view word) {
    utf8proc_uint8_t* out = nullptr;
    const auto size =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(word.data()),
                     static_cast<utf8proc_ssize_t>(word.size()), &out,
                     static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STRIPMARK |
                                                    UTF8PROC_CASEFOLD));
    if (size < 0) return lowerCase(word);  // not UTF-8
    std::string result(reinterpret_cast<const char*>(out), static_cast<std::size_t>(size));
    std::free(out);
    return result;
}

SpelledPhrases::SpelledPhrases(std::span<const std::string> phrases, std::size_t fewestWords) {
    for (const std::string& phrase : phrases) {
        const auto words = wordsOf(phrase);
        if (words.empty() || words.size() < fewestWords || phrase.size() > UINT16_MAX) continue;
        std::string key;
        for (auto word : words) key.append(key.empty() ? "" : " ").append(folded(word));
        if (key.size() > UINT16_MAX) continue;
        Entry e{static_cast<std::uint32_t>(text_.size()), 0, static_cast<std::uint16_t>(key.size()),
                static_cast<std::uint16_t>(phrase.size())};
        text_ += key;
        e.spelling = static_cast<std::uint32_t>(text_.size());
        text_ += phrase;
        entries_.push_back(e);
    }
    std::stable_sort(entries_.begin(), entries_.end(),
                     [&](const Entry& a, const Entry& b) { return keyOf(a) < keyOf(b); });
    entries_.erase(
        std::unique(entries_.begin(), entries_.end(),
                    [&](const Entry& a, const Entry& b) { return keyOf(a) == keyOf(b); }),
        entries_.end());
    entries_.shrink_to_fit();
    text_.shrink_to_fit();
}

bool SpelledPhrases::hasKeyStartingWith(std::string_view prefix) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), prefix,
                               [&](const Entry& e, std::string_view k) { return keyOf(e) < k; });
    return it != entries_.end() && keyOf(*it).starts_with(prefix);
}

std::optional<PhraseMatch> SpelledPhrases::longestAt(
    std::span<const std::string_view> heard) const {
    std::optional<PhraseMatch> best;
    std::string key;
    for (std::size_t n = 0; n < heard.size() && !heard[n].empty(); ++n) {
        if (n > 0) key += ' ';
        key += folded(heard[n]);
        auto it =
            std::lower_bound(entries_.begin(), entries_.end(), key,
                             [&](const Entry& e, std::string_view k) { return keyOf(e) < k; });
        if (it != entries_.end() && keyOf(*it) == key)
            best = PhraseMatch{{text_.data() + it->spelling, it->spellingLength}, n + 1};
        if (!hasKeyStartingWith(key + ' ')) break;
    }
    return best;
}

std::size_t SpelledPhrases::bytes() const {
    return sizeof(*this) + text_.capacity() + entries_.capacity() * sizeof(Entry);
}

}  // namespace scrivia::formatting
