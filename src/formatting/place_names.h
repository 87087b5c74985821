// Place names of more than one word ("New York", "United States of
// America"), from iso-codes and tzdata. Single words are the word list's business.
#pragma once

#include <string_view>

#include "formatting/spelled_phrases.h"

namespace scrivia::formatting {

class NameList;
struct LanguageRules;

// The multi-word places of `rules`' files, with the word list (`lines`,
// loaded as `names`) deciding which subdivisions and cities are names: one
// of their words must be a name ("North Carolina", not "Free State"). An
// unreadable file adds nothing.
SpelledPhrases loadPlaceNames(const LanguageRules& rules, std::string_view lines,
                              const NameList& names);

}  // namespace scrivia::formatting
