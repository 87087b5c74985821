// Unicode text rules shared by control lines and final text.
#pragma once

#include <string>
#include <string_view>

namespace scrivia::events {

// `text` without white space and line ends at either end: general category Z,
// tab, U+000A to U+000D and U+0085. Bytes that are not valid UTF-8 count as
// ordinary characters.
std::string trimmed(std::string_view text);

// The line feeds (U+000A) among what `trimmed` takes off the front and off
// the back of `text`; a blank text's all count as the front's.
struct EdgeLineFeeds {
    int front = 0;
    int back = 0;
};
EdgeLineFeeds edgeLineFeeds(std::string_view text);

// Whether two texts are equal under Unicode canonical equivalence (equal once
// both are in NFC). Texts that are not valid UTF-8 compare byte for byte.
bool canonicallyEqual(std::string_view a, std::string_view b);

}  // namespace scrivia::events
