#include "app/word_list.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "formatting/utf8.h"

namespace scrivia::app {
namespace {

constexpr std::string_view byteOrderMark = "\xef\xbb\xbf";

bool isControl(std::int32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// `line` with tabs as spaces, runs of spaces as one and none at either end;
// none when it is not UTF-8 or holds any other control character.
std::optional<std::string> tidied(std::string_view line) {
    std::string text;
    for (std::size_t at = 0; at < line.size();) {
        const auto [c, length] = formatting::utf8At(line, at);
        if (c == ' ' || c == '\t') {
            if (!text.empty() && text.back() != ' ') text += ' ';
        } else if (c < 0 || isControl(c)) {
            return std::nullopt;
        } else {
            text.append(line.substr(at, length));
        }
        at += length;
    }
    if (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Where the "=" that stands alone between two spaces (or at an end) is.
std::size_t separatorIn(std::string_view text) {
    for (auto at = text.find('='); at != std::string_view::npos; at = text.find('=', at + 1)) {
        if ((at == 0 || text[at - 1] == ' ') && (at + 1 == text.size() || text[at + 1] == ' '))
            return at;
    }
    return std::string_view::npos;
}

std::optional<platform::WordEntry> entryOf(std::string_view line) {
    if (line.size() > wordLineMaxBytes) return std::nullopt;
    auto text = tidied(line);
    if (!text || text->empty() || text->front() == '#') return std::nullopt;
    const std::string_view whole = *text;
    const auto at = separatorIn(whole);
    if (at == std::string_view::npos) return platform::WordEntry{std::string(whole), {}};
    auto written = whole.substr(0, at), spoken = whole.substr(std::min(at + 2, whole.size()));
    if (written.ends_with(' ')) written.remove_suffix(1);
    // "a = b = c" says two things at once.
    if (written.empty() || spoken.empty() || separatorIn(spoken) != std::string_view::npos)
        return std::nullopt;
    return platform::WordEntry{std::string(written), std::string(spoken)};
}

}  // namespace

std::vector<platform::WordEntry> parseWordList(std::string_view text) {
    // Editors on some systems start a UTF-8 file with a byte order mark.
    if (text.starts_with(byteOrderMark)) text.remove_prefix(byteOrderMark.size());
    std::vector<platform::WordEntry> entries;
    while (!text.empty() && entries.size() < wordEntriesMax) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (auto entry = entryOf(line)) entries.push_back(std::move(*entry));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return entries;
}

std::vector<platform::WordEntry> loadWordList(platform::Process& process, const std::string& path) {
    if (path.empty()) return {};
    const auto text = process.readUserFile(path, wordFileMaxBytes);
    return text ? parseWordList(*text) : std::vector<platform::WordEntry>{};
}

}  // namespace scrivia::app
