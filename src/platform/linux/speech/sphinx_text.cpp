#include "platform/linux/speech/sphinx_text.h"

namespace scrivia::platform::linux_ {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool enclosedBy(std::string_view token, std::string_view open, std::string_view close) {
    return token.size() > open.size() + close.size() - 1 && token.starts_with(open) &&
           token.ends_with(close);
}

// `word(2)` names the second pronunciation of `word` in the dictionary.
std::string_view withoutPronunciationMarker(std::string_view word) {
    if (word.size() < 4 || word.back() != ')') return word;
    std::size_t open = word.rfind('(');
    if (open == std::string_view::npos || open == 0 || open + 2 >= word.size()) return word;
    for (std::size_t i = open + 1; i + 1 < word.size(); ++i) {
        if (!isDigit(word[i])) return word;
    }
    return word.substr(0, open);
}

// The decoder's non-words: sentence marks (<s>, </s>), silence (<sil>) and
// fillers ([NOISE], ++GARBAGE++, +BREATH+).
bool isFillerToken(std::string_view token) {
    return enclosedBy(token, "<", ">") || enclosedBy(token, "[", "]") ||
           enclosedBy(token, "+", "+");
}

}  // namespace

std::string cleanHypothesis(std::string_view hypothesis) {
    std::string text;
    std::size_t i = 0;
    while (i < hypothesis.size()) {
        while (i < hypothesis.size() && isSpace(hypothesis[i])) ++i;
        std::size_t start = i;
        while (i < hypothesis.size() && !isSpace(hypothesis[i])) ++i;
        std::string_view token = hypothesis.substr(start, i - start);
        if (token.empty() || isFillerToken(token)) continue;
        if (!text.empty()) text += ' ';
        text += withoutPronunciationMarker(token);
    }
    return text;
}

}  // namespace scrivia::platform::linux_
