// One piece of text on its way from the recogniser's words to dictation text.
#pragma once

#include <string>

#include "formatting/language_rules.h"

namespace scrivia::formatting {

struct Piece {
    // `spelled`: a person's own word, written as they spell it; no pass changes it.
    enum class Kind { word, number, mark, spelled };
    std::string text;  // a word as heard until the names pass; else as written
    Kind kind = Kind::word;
    Attach attach = Attach::toNeither;  // marks only
    bool capitalised = false;           // a month before its day
};

}  // namespace scrivia::formatting
