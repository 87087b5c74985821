#include "formatting/written_names.h"

#include <utf8proc.h>

#include <algorithm>

#include "formatting/utf8.h"

namespace scrivia::formatting {
namespace {

// What came just before a word: a name lets a word the list holds both ways
// go on it ("john smith"), and so does a title ("mister brown").
enum class Before { other, name, title };

// How the list writes `word`, if it is a name here: a word it holds only
// capitalised or that is usually a name, or one it holds both ways right after
// a name or a title.
// A possessive goes with its name: "john's" is John's, "smith's" stays.
std::optional<std::string> nameSpelling(const LanguageRules& r, const NameList& names,
                                        std::string_view word, Before before) {
    std::string_view base = word;
    if (!r.possessive.empty() && word.ends_with(r.possessive) && word.size() > r.possessive.size())
        base.remove_suffix(r.possessive.size());
    auto found = names.find(base);
    if (!found && base != word) found = names.find(base = word);
    if (!found) return std::nullopt;
    if (found->alsoLowerCase && !contains(r.usuallyNames, base) &&
        (before == Before::other || contains(r.notNames, base) ||
         (before == Before::name && contains(r.neverAfterName, base))))
        return std::nullopt;
    if (base == word) return std::string(found->spelling);
    if (auto whole = names.find(word)) return std::string(whole->spelling);
    return std::string(found->spelling).append(r.possessive);
}

// "u.s." → "U.S.": two or more letters, each with its dot, as the
// recogniser's dictionary spells short forms said letter by letter.
std::optional<std::string> dottedCapitals(std::string_view word) {
    std::string text;
    while (!word.empty()) {
        const auto [c, length] = utf8At(word);
        const auto category = c >= 0 ? utf8proc_category(c) : UTF8PROC_CATEGORY_CN;
        if (category < UTF8PROC_CATEGORY_LU || category > UTF8PROC_CATEGORY_LO ||
            word.size() <= length || word[length] != '.')
            return std::nullopt;
        text += withCapital(word.substr(0, length)) + '.';
        word.remove_prefix(length + 1);
    }
    if (text.size() < 4) return std::nullopt;  // "a." is a letter
    return text;
}

const SpelledWord* spelled(std::span<const SpelledWord> table, std::string_view word) {
    auto it = std::find_if(table.begin(), table.end(),
                           [&](const SpelledWord& s) { return s.heard == word; });
    return it == table.end() ? nullptr : &*it;
}

// "last march", "in may", "this may." but not "this may be": a month after a
// time word, unless that word is also a subject and a word follows.
bool monthAfterTimeWord(const LanguageRules& r, std::span<const std::string_view> heard,
                        std::size_t at) {
    if (at == 0 || !contains(r.months, heard[at]) || !contains(r.monthTimeWords, heard[at - 1]))
        return false;
    return !contains(r.monthVerbSubjects, heard[at - 1]) || at + 1 == heard.size() ||
           heard[at + 1].empty();
}

}  // namespace

std::vector<Piece> writeNames(const LanguageRules& r, const NameList* names,
                              std::vector<Piece> pieces) {
    // The words as heard, empty where a piece is no word; names end at those.
    std::vector<std::string> texts(pieces.size());
    std::vector<std::string_view> heard(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i)
        if (pieces[i].kind == Piece::Kind::word) heard[i] = texts[i] = pieces[i].text;

    std::vector<Piece> result;
    result.reserve(pieces.size());
    Before before = Before::other;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Piece& p = pieces[i];
        Before next = Before::other;
        const bool word = p.kind == Piece::Kind::word;
        const auto rest = std::span(heard).subspan(i);
        std::optional<PhraseMatch> place;
        std::optional<std::string> spelling;
        if (!word) {
        } else if (const SpelledWord* fixed = spelled(r.fixedSpellings, p.text)) {
            p.text = fixed->written;
        } else if (auto dotted = dottedCapitals(p.text)) {
            p.text = std::move(*dotted);
        } else if (const SpelledWord* title = spelled(r.titles, p.text);
                   title && names && rest.size() > 1 && !rest[1].empty() &&
                   (spelling = nameSpelling(r, *names, rest[1], Before::title))) {
            p.text = title->written;
            result.push_back(std::move(p));
            pieces[++i].text = std::move(*spelling);
            result.push_back(std::move(pieces[i]));
            before = Before::name;
            continue;
        } else if (names && (place = names->places().longestAt(rest))) {
            p.text = place->spelling;
            i += place->words - 1;
            next = Before::name;
        } else if (p.capitalised || monthAfterTimeWord(r, heard, i)) {
            p.text = withCapital(p.text);
        } else if (names && (spelling = nameSpelling(r, *names, p.text, before))) {
            p.text = std::move(*spelling);
            next = Before::name;
        }
        result.push_back(std::move(p));
        before = next;
    }
    return result;
}

}  // namespace scrivia::formatting
