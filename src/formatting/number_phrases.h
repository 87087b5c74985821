// The pass that writes numbers: counts, ordinals, years, times, money and
// percentages, and capitalises a month before its day.
#pragma once

#include <vector>

#include "formatting/language_rules.h"
#include "formatting/piece.h"

namespace scrivia::formatting {

// `words` as pieces: each number phrase one number piece, other words as heard.
std::vector<Piece> numberPieces(const LanguageRules& rules, Words words);

}  // namespace scrivia::formatting
