#include "formatting/formatter.h"

#include <algorithm>
#include <vector>

#include "formatting/language_rules.h"
#include "formatting/number_phrases.h"
#include "formatting/spoken_marks.h"
#include "formatting/written_names.h"

namespace scrivia::formatting {
namespace {

std::vector<std::string_view> split(std::string_view words) {
    std::vector<std::string_view> result;
    while (!words.empty()) {
        const auto space = words.find(' ');
        if (space != 0) result.push_back(words.substr(0, space));
        if (space == std::string_view::npos) break;
        words.remove_prefix(space + 1);
    }
    return result;
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
            capital = capital || r.sentenceEnds.find(p.text.back()) != std::string_view::npos;
            continue;
        }
        if (space) text += ' ';
        text += capital ? withCapital(p.text) : p.text;
        capital = false;
        space = true;
    }
    if (punctuation && kind == TextKind::final) {
        // Before any closing line feeds, which the caller trims.
        const auto last = text.find_last_not_of('\n');
        if (last != std::string::npos && r.closedBy.find(text[last]) == std::string_view::npos)
            text.insert(last + 1, r.closingMark);
    }
    return text;
}

}  // namespace

Formatter::Formatter(std::string_view localeIdentifier, std::shared_ptr<const NameList> names,
                     FormatterConfig config)
    : rules_(rulesFor(localeIdentifier)),
      // A language without a word list of its own has no use for another's.
      names_(rules_.nameListPath.empty() ? nullptr : std::move(names)),
      config_(config) {}

std::string Formatter::format(std::string_view words, TextKind kind, bool continuesSentence) const {
    const auto heard = split(words);
    auto pieces = numberPieces(rules_, heard);
    if (config_.punctuation) pieces = markPieces(rules_, std::move(pieces));
    pieces = writeNames(rules_, names_.get(), std::move(pieces));
    return assemble(rules_, pieces, config_.punctuation, kind, continuesSentence);
}

std::string Formatter::nameListPath(std::string_view localeIdentifier) {
    return std::string(rulesFor(localeIdentifier).nameListPath);
}

}  // namespace scrivia::formatting
