#include "formatting/utf8.h"

#include <utf8proc.h>

namespace scrivia::formatting {

Utf8Char utf8At(std::string_view text, std::size_t at) {
    if (at >= text.size()) return {};
    utf8proc_int32_t c = -1;
    const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                                    static_cast<utf8proc_ssize_t>(text.size() - at), &c);
    if (n <= 0) return {-1, 1};
    return {c, static_cast<std::size_t>(n)};
}

std::string utf8Encoded(std::int32_t codePoint) {
    utf8proc_uint8_t encoded[4];
    const auto size = utf8proc_encode_char(codePoint, encoded);
    return std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
}

}  // namespace scrivia::formatting
