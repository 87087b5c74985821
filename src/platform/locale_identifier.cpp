#include "platform/locale_identifier.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace scrivia::platform {

namespace {

bool sameLocale(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The language and region subtags of an underscored identifier (zh_Hant_TW:
// zh and TW); a region is two letters or three digits.
std::pair<std::string_view, std::string_view> languageAndRegion(std::string_view identifier) {
    const std::string_view language = identifier.substr(0, identifier.find('_'));
    std::string_view rest = identifier.substr(language.size());
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const std::string_view subtag = rest.substr(0, rest.find('_'));
        rest.remove_prefix(subtag.size());
        auto all = [&](int (*is)(int)) {
            return std::all_of(subtag.begin(), subtag.end(),
                               [is](char c) { return is(static_cast<unsigned char>(c)) != 0; });
        };
        if ((subtag.size() == 2 && all(std::isalpha)) || (subtag.size() == 3 && all(std::isdigit)))
            return {language, subtag};
    }
    return {language, {}};
}

}  // namespace

std::string dashedIdentifier(std::string_view identifier) {
    std::string result(identifier);
    std::replace(result.begin(), result.end(), '_', '-');
    return result;
}

std::string underscoredIdentifier(std::string_view identifier) {
    std::string result(identifier);
    std::replace(result.begin(), result.end(), '-', '_');
    return result;
}

std::optional<std::size_t> bestMatch(std::string_view wanted,
                                     const std::vector<std::string>& installed) {
    const std::string want = underscoredIdentifier(wanted);
    const auto [language, region] = languageAndRegion(want);
    std::optional<std::size_t> sameLanguage;
    std::optional<std::size_t> sameRegion;
    // Sorted, so the first of a kind is the lowest in code point order.
    for (std::size_t i = 0; i < installed.size(); ++i) {
        const std::string locale = underscoredIdentifier(installed[i]);
        if (sameLocale(locale, want)) return i;
        const auto [otherLanguage, otherRegion] = languageAndRegion(locale);
        if (!sameLocale(otherLanguage, language)) continue;
        if (!sameLanguage) sameLanguage = i;
        if (!sameRegion && !region.empty() && sameLocale(otherRegion, region)) sameRegion = i;
    }
    return sameRegion ? sameRegion : sameLanguage;
}

}  // namespace scrivia::platform
