#include "formatting/formatter.h"

#include <utf8proc.h>

#include <algorithm>
#include <vector>

#include "formatting/language_rules.h"
#include "formatting/number_phrases.h"
#include "formatting/spoken_marks.h"

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

// `word` with its first letter a capital; bytes that are not UTF-8 stay as they are.
std::string withCapital(std::string_view word) {
    utf8proc_int32_t first = 0;
    const auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(word.data()),
                                         static_cast<utf8proc_ssize_t>(word.size()), &first);
    if (length <= 0) return std::string(word);
    utf8proc_uint8_t encoded[4];
    const auto size = utf8proc_encode_char(utf8proc_toupper(first), encoded);
    std::string text(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
    return text.append(word.substr(static_cast<std::size_t>(length)));
}

// How the list writes `word`, if it is a name here: a word it holds only
// capitalised or that is usually a name, or one it holds both ways right after
// a name ("john smith").
// A possessive goes with its name: "john's" is John's, "smith's" stays.
std::optional<std::string> nameSpelling(const LanguageRules& r, const NameList& names,
                                        std::string_view word, bool afterName) {
    std::string_view base = word;
    if (!r.possessive.empty() && word.ends_with(r.possessive) && word.size() > r.possessive.size())
        base.remove_suffix(r.possessive.size());
    auto found = names.find(base);
    if (!found && base != word) found = names.find(base = word);
    if (!found) return std::nullopt;
    if (found->alsoLowerCase && !contains(r.usuallyNames, base) &&
        (!afterName || contains(r.neverAfterName, base)))
        return std::nullopt;
    if (base == word) return std::string(found->spelling);
    if (auto whole = names.find(word)) return std::string(whole->spelling);
    return std::string(found->spelling).append(r.possessive);
}

void writeNames(const LanguageRules& r, const NameList* names, std::vector<Piece>& pieces) {
    bool afterName = false;
    for (Piece& p : pieces) {
        bool name = false;
        if (p.kind != Piece::Kind::word) {
        } else if (auto fixed =
                       std::find_if(r.fixedSpellings.begin(), r.fixedSpellings.end(),
                                    [&](const SpelledWord& s) { return s.heard == p.text; });
                   fixed != r.fixedSpellings.end()) {
            p.text = fixed->written;
        } else if (p.capitalised) {
            p.text = withCapital(p.text);
        } else if (names) {
            if (auto spelling = nameSpelling(r, *names, p.text, afterName)) {
                p.text = std::move(*spelling);
                name = true;
            }
        }
        afterName = name;
    }
}

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
        text += capital ? withCapital(p.text) : p.text;
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

Formatter::Formatter(std::string_view localeIdentifier, std::shared_ptr<const NameList> names,
                     FormatterConfig config)
    : Formatter(rulesFor(localeIdentifier), std::move(names), config) {}

Formatter::Formatter(const LanguageRules& rules, std::shared_ptr<const NameList> names,
                     FormatterConfig config)
    : rules_(rules),
      // A language without a word list of its own has no use for another's.
      names_(rules_.nameListPath.empty() ? nullptr : std::move(names)),
      config_(config) {}

std::string Formatter::format(std::string_view words, TextKind kind, bool continuesSentence) const {
    const auto heard = split(words);
    auto pieces = numberPieces(rules_, heard);
    if (config_.punctuation) pieces = markPieces(rules_, std::move(pieces));
    writeNames(rules_, names_.get(), pieces);
    return assemble(rules_, pieces, config_.punctuation, kind, continuesSentence);
}

std::string Formatter::nameListPath(std::string_view localeIdentifier) {
    return std::string(rulesFor(localeIdentifier).nameListPath);
}

}  // namespace scrivia::formatting
