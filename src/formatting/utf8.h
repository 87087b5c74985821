// Steps through UTF-8 text one character at a time. Bytes that are not UTF-8
// are characters of their own, so no text is ever refused or lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace scrivia::formatting {

struct Utf8Char {
    std::int32_t codePoint = -1;  // -1 for a byte that is not UTF-8
    std::size_t length = 0;       // bytes; 0 only at the end of the text
};

// The character that starts at byte `at` of `text`.
Utf8Char utf8At(std::string_view text, std::size_t at = 0);

// `codePoint` as UTF-8.
std::string utf8Encoded(std::int32_t codePoint);

}  // namespace scrivia::formatting
