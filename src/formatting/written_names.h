// The pass that writes names as a person does: places ("New York"), titles
// ("Mr. Brown"), dotted short forms ("U.S."), months after a time word and
// the word list's names.
#pragma once

#include <vector>

#include "formatting/language_rules.h"
#include "formatting/name_list.h"
#include "formatting/piece.h"

namespace scrivia::formatting {

// `pieces` with their words spelled; `names` may be null: words then only
// take the tables' spellings.
std::vector<Piece> writeNames(const LanguageRules& rules, const NameList* names,
                              std::vector<Piece> pieces);

}  // namespace scrivia::formatting
