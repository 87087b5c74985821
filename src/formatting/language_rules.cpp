#include "formatting/language_rules.h"

#include <algorithm>
#include <cctype>

namespace scrivia::formatting {
namespace {

struct Language {
    std::string_view code;
    const LanguageRules& (*rules)();
};

constexpr Language languages[] = {{"en", englishRules}};

}  // namespace

const LanguageRules& rulesFor(std::string_view language) {
    for (const Language& l : languages) {
        if (language.size() != l.code.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < language.size(); ++i)
            same = same && std::tolower(static_cast<unsigned char>(language[i])) == l.code[i];
        if (same) return l.rules();
    }
    static constexpr LanguageRules none{};
    return none;
}

const LanguageRules* rulesReadingNameList(std::string_view nameListPath) {
    for (const Language& l : languages)
        if (!nameListPath.empty() && l.rules().nameListPath == nameListPath) return &l.rules();
    return nullptr;
}

std::optional<std::uint64_t> valueOf(std::span<const NumberWord> table, std::string_view word) {
    for (const NumberWord& n : table)
        if (n.word == word) return n.value;
    return std::nullopt;
}

bool contains(Words table, std::string_view word) {
    return std::find(table.begin(), table.end(), word) != table.end();
}

}  // namespace scrivia::formatting
