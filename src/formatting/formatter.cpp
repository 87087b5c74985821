#include "formatting/formatter.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "formatting/language_rules.h"
#include "formatting/number_phrases.h"
#include "formatting/spoken_marks.h"
#include "formatting/utf8.h"
#include "formatting/written_names.h"

namespace scrivia::formatting {
namespace {

// Whether `text` ends with one of `marks`.
bool endsWithOne(std::string_view text, Words marks) {
    return std::any_of(marks.begin(), marks.end(),
                       [&](std::string_view m) { return !m.empty() && text.ends_with(m); });
}

std::string assemble(const LanguageRules& r, const std::vector<Piece>& pieces, bool punctuation,
                     TextKind kind, bool continuesSentence) {
    std::string text;
    bool space = false;
    bool capital = punctuation && !continuesSentence;
    for (const Piece& p : pieces) {
        if (p.kind == Piece::Kind::mark) {
            if (p.attach == Attach::toNext && space) text += ' ';
            text += p.text;
            space = p.attach == Attach::toPrevious;
            if (r.sentenceEnds.find(p.text.back()) != std::string_view::npos) {
                capital = true;
            } else if (contains(r.closedBy, p.text)) {
                capital = false;  // ", was it": the sentence goes on
            }
            continue;
        }
        if (space) text += ' ';
        // A person's spelling stands even first in a sentence: "iPhone".
        text += capital && p.kind != Piece::Kind::spelled ? withCapital(p.text) : p.text;
        capital = false;
        space = true;
    }
    if (punctuation && kind == TextKind::final) {
        // Before any closing line feeds and spaces, which the caller trims,
        // and inside a closing quote.
        std::string_view body(text.data(), text.find_last_not_of(" \n") + 1);
        const auto inside = r.closingMarkInside;
        const auto before = body.substr(0, body.size() - std::min(body.size(), inside.size()));
        if (!inside.empty() && body.ends_with(inside) && !before.empty() &&
            !before.ends_with(' ') && !before.ends_with(inside))  // not an opening or empty quote
            body = before;
        if (!body.empty() && !endsWithOne(body, r.closedBy))
            text.insert(body.size(), r.closingMark);
    }
    return text;
}

}  // namespace

Formatter::Formatter(std::string_view language, std::shared_ptr<const NameList> names,
                     FormatterConfig config)
    : Formatter(rulesFor(language), std::move(names), config) {}

Formatter::Formatter(const LanguageRules& rules, std::shared_ptr<const NameList> names,
                     FormatterConfig config)
    : rules_(rules),
      // A language without a word list of its own has no use for another's.
      names_(rules_.nameListPath.empty() ? nullptr : std::move(names)),
      ownWords_(config.ownWords),
      punctuation_(config.punctuation) {
    if (auto why = config.invalid()) throw std::invalid_argument(*why);
}

std::optional<std::string> FormatterConfig::invalid() const {
    for (const std::string& word : ownWords) {
        // Heard as words one space apart, so a blank or a broken one matches nothing.
        if (word.find_first_not_of(" \t") == std::string::npos) return "ownWords: a blank entry";
        if (word.find_first_of("\n\r") != std::string::npos)
            return "ownWords: an entry of two lines";
        for (std::size_t at = 0; at < word.size(); at += utf8At(word, at).length)
            if (utf8At(word, at).codePoint < 0) return "ownWords: an entry that is not UTF-8";
    }
    return std::nullopt;
}

std::string Formatter::format(std::string_view words, TextKind kind, bool continuesSentence) const {
    const auto heard = wordsOf(words);
    const Words all(heard);
    // A person's words first, so that no later pass reads them; the words
    // between them go through the number pass run by run.
    std::vector<Piece> pieces;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= all.size();) {
        const auto own = i < all.size() && !ownWords_.empty() ? ownWords_.longestAt(all.subspan(i))
                                                              : std::nullopt;
        if (!own && i < all.size()) {
            ++i;
            continue;
        }
        for (Piece& p : numberPieces(rules_, all.subspan(from, i - from)))
            pieces.push_back(std::move(p));
        if (!own) break;
        pieces.push_back({std::string(own->spelling), Piece::Kind::spelled});
        from = i += own->words;
    }
    if (punctuation_) pieces = markPieces(rules_, std::move(pieces));
    pieces = writeNames(rules_, names_.get(), std::move(pieces));
    return assemble(rules_, pieces, punctuation_, kind, continuesSentence);
}

bool Formatter::leavesSentenceOpen(std::string_view final) const {
    if (!punctuation_ || final.empty()) return false;
    return rules_.sentenceEnds.find(final.back()) == std::string_view::npos &&
           endsWithOne(final, rules_.closedBy);
}

std::string Formatter::nameListPath(std::string_view language) {
    return std::string(rulesFor(language).nameListPath);
}

}  // namespace scrivia::formatting
