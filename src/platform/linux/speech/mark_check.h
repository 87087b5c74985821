// Whether the spoken marks a decoder heard were said. The phrases' model makes
// marks likely, and now and then it leads the search astray ("unless" heard
// as "comma was"); a mark it doubts is checked by decoding the utterance again
// without the phrases. Plain values: no decoder, no thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scrivia::platform::linux_ {

struct MarkCheckConfig {
    // A mark at least this sure (its posterior in the utterance's lattice,
    // every word of it) stands unchecked. 0 to 1: 0 checks none, above 1 all.
    // None: the checks tried cost more marks said than they saved unsaid
    // (bench/eval/run.py --attempts).
    double surePosterior = 0;
    // A doubted mark is dropped at once, or the utterance is decoded again
    // without the phrases...
    bool lookAgain = true;
    // ...and the first decoding stands only when its score is at least this
    // much (PocketSphinx's log units) above the second's; else the second does.
    std::int32_t scoreMargin = 0;
    std::optional<std::string> invalid() const;  // "surePosterior must be >= 0", or none
};

// A word of a decoded utterance and how sure of it the decoder is: its
// posterior probability, 0 to 1.
struct HeardWord {
    std::string word;
    double posterior = 1;
};

// Where each of `marks` (phrases, their words one space apart) is heard in
// `words`, the longest first where two start alike: [first, end) word indices.
std::vector<std::pair<std::size_t, std::size_t>> markSpans(std::span<const HeardWord> words,
                                                           std::span<const std::string_view> marks);

// Whether a mark of `words` was heard less surely than `surePosterior`.
bool doubtsAMark(std::span<const HeardWord> words, std::span<const std::string_view> marks,
                 double surePosterior);

// `words` one space apart, without the marks heard less surely than
// `surePosterior`.
std::string withoutDoubtedMarks(std::span<const HeardWord> words,
                                std::span<const std::string_view> marks, double surePosterior);

}  // namespace scrivia::platform::linux_
