// What a recogniser must be ready to hear for a language's rules to act: the
// words of its spoken marks, its titles and the rare words its rules need.
#pragma once

#include <string_view>
#include <vector>

#include "formatting/language_rules.h"

namespace scrivia::formatting {

struct HeardPhrases {
    std::vector<std::string_view> marks;  // the boosted marks' words, each once
    std::vector<std::string_view> words;  // titles' and rare words, not among `marks`
};

// In table order, so that the recogniser's model is the same from run to run.
HeardPhrases heardPhrases(const LanguageRules& rules);

}  // namespace scrivia::formatting
