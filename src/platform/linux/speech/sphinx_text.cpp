#include "platform/linux/speech/sphinx_text.h"

#include <utf8proc.h>

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

std::string formatSentence(std::string_view words) {
    if (words.empty()) return {};
    std::string text;
    utf8proc_int32_t first = 0;
    utf8proc_ssize_t length =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(words.data()),
                         static_cast<utf8proc_ssize_t>(words.size()), &first);
    if (length > 0) {
        utf8proc_uint8_t encoded[4];
        utf8proc_ssize_t size = utf8proc_encode_char(utf8proc_toupper(first), encoded);
        text.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
        text.append(words.substr(static_cast<std::size_t>(length)));
    } else {
        // Not UTF-8: leave the bytes as they are.
        text.append(words);
    }
    char last = text.back();
    if (last != '.' && last != '!' && last != '?') text += '.';
    return text;
}

}  // namespace scrivia::platform::linux_
