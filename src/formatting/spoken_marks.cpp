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

}  // namespace

std::vector<Piece> markPieces(const LanguageRules& r, std::vector<Piece> pieces) {
    std::vector<Piece> result;
    result.reserve(pieces.size());
    for (std::size_t i = 0; i < pieces.size();) {
        const SpokenMark* found = nullptr;
        std::size_t length = 0;
        for (const SpokenMark& mark : r.marks) {
            const auto n = matchLength(pieces, i, mark.words);
            if (n > length) {
                found = &mark;
                length = n;
            }
        }
        const std::string_view before = result.empty() ? std::string_view{} : result.back().text;
        if (found && (contains(r.markNounMakers, before) || contains(found->alsoNounAfter, before)))
            found = nullptr;
        if (!found) {
            result.push_back(std::move(pieces[i++]));
            continue;
        }
        result.push_back({std::string(found->mark), Piece::Kind::mark, found->attach});
        i += length;
    }
    return result;
}

}  // namespace scrivia::formatting
