#include "formatting/name_list.h"

#include <utf8proc.h>

#include <algorithm>
#include <fstream>

#include "formatting/language_rules.h"
#include "formatting/utf8.h"

namespace scrivia::formatting {
namespace {

// Calls `f` with each line of `lines`, without its line end.
template <typename F>
void eachLine(std::string_view lines, F f) {
    while (!lines.empty()) {
        auto end = lines.find('\n');
        auto line = lines.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) f(line);
        if (end == std::string_view::npos) break;
        lines.remove_prefix(end + 1);
    }
}

bool hasUpperCase(std::string_view word) {
    for (char c : word) {
        if (c >= 'A' && c <= 'Z') return true;
        if (static_cast<unsigned char>(c) >= 0x80) return lowerCase(word) != word;
    }
    return false;
}

}  // namespace

std::string lowerCase(std::string_view word) {
    std::string result;
    result.reserve(word.size());
    while (!word.empty()) {
        const Utf8Char c = utf8At(word);
        if (c.codePoint < 0)
            result += word.front();
        else
            result += utf8Encoded(utf8proc_tolower(c.codePoint));
        word.remove_prefix(c.length);
    }
    return result;
}

std::string withCapital(std::string_view word) {
    const Utf8Char first = utf8At(word);
    if (first.codePoint < 0) return std::string(word);
    return utf8Encoded(utf8proc_toupper(first.codePoint)).append(word.substr(first.length));
}

NameList::NameList(std::string_view lines) {
    eachLine(lines, [&](std::string_view line) {
        if (line.size() > UINT16_MAX || !hasUpperCase(line)) return;
        const std::string key = lowerCase(line);
        Entry e{static_cast<std::uint32_t>(text_.size()), 0, static_cast<std::uint16_t>(key.size()),
                static_cast<std::uint16_t>(line.size()), false};
        text_ += key;
        e.spelling = static_cast<std::uint32_t>(text_.size());
        text_ += line;
        entries_.push_back(e);
    });
    std::stable_sort(entries_.begin(), entries_.end(),
                     [&](const Entry& a, const Entry& b) { return keyOf(a) < keyOf(b); });
    // "US" and "Us": the first spelling read stands for the word.
    entries_.erase(
        std::unique(entries_.begin(), entries_.end(),
                    [&](const Entry& a, const Entry& b) { return keyOf(a) == keyOf(b); }),
        entries_.end());
    entries_.shrink_to_fit();
    text_.shrink_to_fit();
    eachLine(lines, [&](std::string_view line) {
        if (hasUpperCase(line)) return;
        auto it =
            std::lower_bound(entries_.begin(), entries_.end(), line,
                             [&](const Entry& e, std::string_view k) { return keyOf(e) < k; });
        if (it != entries_.end() && keyOf(*it) == line) it->alsoLowerCase = true;
    });
}

std::optional<NameSpelling> NameList::find(std::string_view lowerCaseWord) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), lowerCaseWord,
                               [&](const Entry& e, std::string_view k) { return keyOf(e) < k; });
    if (it == entries_.end() || keyOf(*it) != lowerCaseWord) return std::nullopt;
    return NameSpelling{{text_.data() + it->spelling, it->spellingLength}, it->alsoLowerCase};
}

std::size_t NameList::bytes() const {
    return sizeof(*this) - sizeof(places_) + text_.capacity() +
           entries_.capacity() * sizeof(Entry) + places_.bytes();
}

std::shared_ptr<const NameList> loadNameList(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = in.tellg();
    if (!in || size <= 0) return nullptr;  // unreadable, a folder, or empty
    std::string lines(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(lines.data(), size)) return nullptr;
    auto list = std::make_shared<NameList>(lines);
    if (const LanguageRules* rules = rulesReadingNameList(path))
        list->places_ = loadPlaceNames(*rules, lines, *list);
    return list;
}

}  // namespace scrivia::formatting
