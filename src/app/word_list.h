// A person's own words and names, from the file the host names with --words:
// one entry a line, written as it should appear ("PostgreSQL"), then, when
// the spelling does not tell how it is said, " = " and ordinary words
// ("PostgreSQL = post gres q l"). Lines starting with "#" are comments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace scrivia::app {

// Bounds on what one file may cost at start-up and in the recogniser: a
// larger file is ignored whole, a longer line (spoken form included) is
// skipped, and of more entries the first are kept.
inline constexpr std::size_t wordFileMaxBytes = 1 << 20;
inline constexpr std::size_t wordLineMaxBytes = 100;
inline constexpr std::size_t wordEntriesMax = 2000;

// The usable entries of a file's `text`, in order. A line that is too long,
// not UTF-8, holds a control character or has an empty side of " = " is
// skipped; the rest of the file still counts.
std::vector<platform::WordEntry> parseWordList(std::string_view text);

// The entries of the file at `path`; none when `path` is empty or the file
// is no regular file, cannot be read or is too large.
std::vector<platform::WordEntry> loadWordList(platform::Process& process, const std::string& path);

}  // namespace scrivia::app
