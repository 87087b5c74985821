#include "events/text.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "formatting/utf8.h"

namespace scrivia::events {
namespace {

bool isTrimmed(utf8proc_int32_t c) {
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
    switch (utf8proc_category(c)) {
        case UTF8PROC_CATEGORY_ZS:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return true;
        default:
            return false;
    }
}

// Length of the white-space character starting at `pos`, or 0.
size_t whiteAt(std::string_view text, size_t pos) {
    const auto c = formatting::utf8At(text, pos);
    return c.codePoint >= 0 && isTrimmed(c.codePoint) ? c.length : 0;
}

std::optional<std::string> nfc(std::string_view s) {
    utf8proc_uint8_t* out = nullptr;
    auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                          static_cast<utf8proc_ssize_t>(s.size()), &out,
                          static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n < 0) return std::nullopt;
    std::string result(reinterpret_cast<char*>(out), static_cast<size_t>(n));
    std::free(out);
    return result;
}

// Where the text is left once its white space at either end is taken off.
std::pair<size_t, size_t> trimmedBounds(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t n = whiteAt(text, begin);
        if (n == 0) break;
        begin += n;
    }
    // From the back: step to the start of the last character (at most four
    // bytes back) and see whether it is white.
    size_t end = text.size();
    while (end > begin) {
        size_t start = end - 1;
        while (start > begin && end - start < 4 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        size_t n = whiteAt(text.substr(0, end), start);
        if (n == 0 || start + n != end) break;
        end = start;
    }
    return {begin, end};
}

int lineFeeds(std::string_view text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

std::string trimmed(std::string_view text) {
    auto [begin, end] = trimmedBounds(text);
    return std::string(text.substr(begin, end - begin));
}

EdgeLineFeeds edgeLineFeeds(std::string_view text) {
    auto [begin, end] = trimmedBounds(text);
    return {lineFeeds(text.substr(0, begin)), lineFeeds(text.substr(end))};
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    auto na = nfc(a);
    auto nb = nfc(b);
    return na && nb && *na == *nb;
}

}  // namespace scrivia::events
