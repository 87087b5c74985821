#include "platform/linux/speech/mark_check.h"

#include <algorithm>

namespace scrivia::platform::linux_ {
namespace {

// The number of words of `phrase` that `words` holds from `at` on, or 0.
std::size_t matchAt(std::span<const HeardWord> words, std::size_t at, std::string_view phrase) {
    std::size_t count = 0;
    while (!phrase.empty()) {
        const auto space = phrase.find(' ');
        if (at + count >= words.size() || words[at + count].word != phrase.substr(0, space))
            return 0;
        ++count;
        phrase = space == phrase.npos ? std::string_view() : phrase.substr(space + 1);
    }
    return count;
}

bool doubted(std::span<const HeardWord> words, std::pair<std::size_t, std::size_t> span,
             double surePosterior) {
    return std::any_of(words.begin() + std::ptrdiff_t(span.first),
                       words.begin() + std::ptrdiff_t(span.second),
                       [&](const HeardWord& w) { return w.posterior < surePosterior; });
}

}  // namespace

std::optional<std::string> MarkCheckConfig::invalid() const {
    if (!(surePosterior >= 0)) return "surePosterior must be >= 0";
    return std::nullopt;
}

std::vector<std::pair<std::size_t, std::size_t>> markSpans(
    std::span<const HeardWord> words, std::span<const std::string_view> marks) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (std::size_t at = 0; at < words.size();) {
        std::size_t longest = 0;
        for (std::string_view mark : marks) longest = std::max(longest, matchAt(words, at, mark));
        if (longest > 0) spans.emplace_back(at, at + longest);
        at += std::max<std::size_t>(longest, 1);
    }
    return spans;
}

bool doubtsAMark(std::span<const HeardWord> words, std::span<const std::string_view> marks,
                 double surePosterior) {
    for (const auto& span : markSpans(words, marks))
        if (doubted(words, span, surePosterior)) return true;
    return false;
}

std::string withoutDoubtedMarks(std::span<const HeardWord> words,
                                std::span<const std::string_view> marks, double surePosterior) {
    std::vector<bool> dropped(words.size());
    for (const auto& span : markSpans(words, marks))
        if (doubted(words, span, surePosterior))
            std::fill(dropped.begin() + std::ptrdiff_t(span.first),
                      dropped.begin() + std::ptrdiff_t(span.second), true);
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (dropped[i]) continue;
        if (!text.empty()) text += ' ';
        text += words[i].word;
    }
    return text;
}

}  // namespace scrivia::platform::linux_
