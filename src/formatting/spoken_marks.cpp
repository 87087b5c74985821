#include "formatting/spoken_marks.h"

namespace scrivia::formatting {
namespace {

// How many pieces from `at` spell `words` ("question mark"), or 0.
std::size_t matchLength(const std::vector<Piece>& pieces, std::size_t at, std::string_view words) {
    std::size_t count = 0;
    while (!words.empty()) {
        const auto space = words.find(' ');
        const auto word = words.substr(0, space);
        if (at + count >= pieces.size() || pieces[at + count].kind != Piece::Kind::word ||
            pieces[at + count].text != word)
            return 0;
        ++count;
        words = space == std::string_view::npos ? std::string_view{} : words.substr(space + 1);
    }
    return count;
}

struct Match {
    const SpokenMark* mark = nullptr;
    std::size_t length = 0;
};

// The longest mark spelled from `at`, if any.
Match markAt(const LanguageRules& r, const std::vector<Piece>& pieces, std::size_t at) {
    Match found;
    for (const SpokenMark& mark : r.marks) {
        const auto n = matchLength(pieces, at, mark.words);
        if (n > found.length) found = {&mark, n};
    }
    return found;
}

// Whether the words before a mark make it a noun ("the colon", "a long
// period", "no period of rest").
bool isNoun(const LanguageRules& r, const std::vector<Piece>& pieces,
            const std::vector<Piece>& done, std::size_t at, const Match& m) {
    const std::string_view before = done.empty() ? std::string_view{} : done.back().text;
    if (contains(r.markNounMakers, before) || contains(m.mark->alsoNounAfter, before)) return true;
    const std::size_t next = at + m.length;
    return contains(r.nounMakersBeforeMore, before) && next < pieces.size() &&
           !markAt(r, pieces, next).mark;
}

// Whether the opening mark `m` at `at` has its closing mark later on, before
// it opens again.
bool closedLater(const LanguageRules& r, const std::vector<Piece>& pieces, std::size_t at,
                 const Match& m) {
    for (std::size_t j = at + m.length; j < pieces.size();) {
        const Match next = markAt(r, pieces, j);
        if (next.mark && next.mark->mark == m.mark->mark)
            return next.mark->attach == Attach::toPrevious;
        j += next.mark ? next.length : 1;
    }
    return false;
}

}  // namespace

std::vector<Piece> markPieces(const LanguageRules& r, std::vector<Piece> pieces) {
    std::vector<Piece> result;
    result.reserve(pieces.size());
    for (std::size_t i = 0; i < pieces.size();) {
        Match found = markAt(r, pieces, i);
        if (found.mark && (isNoun(r, pieces, result, i, found) ||
                           (contains(r.openOnlyWhenClosed, found.mark->words) &&
                            !closedLater(r, pieces, i, found))))
            found = {};
        if (!found.mark) {
            result.push_back(std::move(pieces[i++]));
            continue;
        }
        i += found.length;
        // "comma comma", "question mark period": the first stands.
        if (!result.empty() && result.back().kind == Piece::Kind::mark &&
            contains(r.closedBy, result.back().text) && contains(r.closedBy, found.mark->mark))
            continue;
        result.push_back({std::string(found.mark->mark), Piece::Kind::mark, found.mark->attach});
    }
    return result;
}

}  // namespace scrivia::formatting
