// The pass that turns spoken punctuation ("question mark", "new line") into marks.
#pragma once

#include <vector>

#include "formatting/language_rules.h"
#include "formatting/piece.h"

namespace scrivia::formatting {

// `pieces` with each spoken mark's words made one mark piece, except where
// the word before makes it a noun ("a long period").
std::vector<Piece> markPieces(const LanguageRules& rules, std::vector<Piece> pieces);

}  // namespace scrivia::formatting
