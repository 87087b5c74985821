#include "formatting/heard_phrases.h"

#include <algorithm>

namespace scrivia::formatting {
namespace {

void addOnce(std::vector<std::string_view>& to, std::string_view phrase,
             const std::vector<std::string_view>& besides = {}) {
    auto has = [&](const std::vector<std::string_view>& list) {
        return std::find(list.begin(), list.end(), phrase) != list.end();
    };
    if (!phrase.empty() && !has(to) && !has(besides)) to.push_back(phrase);
}

}  // namespace

HeardPhrases heardPhrases(const LanguageRules& rules) {
    HeardPhrases heard;
    for (const SpokenMark& mark : rules.marks)
        if (mark.boosted) addOnce(heard.marks, mark.words);
    for (const SpelledWord& title : rules.titles) addOnce(heard.words, title.heard, heard.marks);
    for (std::string_view word : rules.rareWords) addOnce(heard.words, word, heard.marks);
    return heard;
}

}  // namespace scrivia::formatting
