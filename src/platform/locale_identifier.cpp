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

}  // namespace

LocaleParts localeParts(std::string_view identifier) {
    LocaleParts parts;
    parts.name = identifier.substr(0, identifier.find_first_of(".@"));
    parts.language = parts.name.substr(0, parts.name.find_first_of("_-"));
    std::string_view rest = parts.name.substr(parts.language.size());
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const std::string_view subtag = rest.substr(0, rest.find_first_of("_-"));
        rest.remove_prefix(subtag.size());
        auto all = [&](int (*is)(int)) {
            return std::all_of(subtag.begin(), subtag.end(),
                               [is](char c) { return is(static_cast<unsigned char>(c)) != 0; });
        };
        if ((subtag.size() == 2 && all(std::isalpha)) ||
            (subtag.size() == 3 && all(std::isdigit))) {
            parts.region = subtag;
            break;
        }
    }
    return parts;
}

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
    const auto [name, language, region] = localeParts(want);
    std::optional<std::size_t> sameLanguage;
    std::optional<std::size_t> sameRegion;
    // Sorted, so the first of a kind is the lowest in code point order.
    for (std::size_t i = 0; i < installed.size(); ++i) {
        const std::string locale = underscoredIdentifier(installed[i]);
        if (sameLocale(locale, want)) return i;
        const auto [otherName, otherLanguage, otherRegion] = localeParts(locale);
        if (!sameLocale(otherLanguage, language)) continue;
        if (!sameLanguage) sameLanguage = i;
        if (!sameRegion && !region.empty() && sameLocale(otherRegion, region)) sameRegion = i;
    }
    return sameRegion ? sameRegion : sameLanguage;
}

}  // namespace scrivia::platform
