// Locale identifiers in the two spellings scrivia meets: the platform's
// (en_US) and the one it reports to hosts (en-US).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivia::platform {

// The parts of a locale identifier in any of its spellings (en_US, en-US,
// en_US.UTF-8@euro, zh_Hant_TW): views into it. A region is two letters or
// three digits; the code set and modifier are left out.
struct LocaleParts {
    std::string_view name;      // all but the code set and modifier: "en_US"
    std::string_view language;  // "en"
    std::string_view region;    // "US"; empty when there is none
};
LocaleParts localeParts(std::string_view identifier);

// Every "_" replaced by "-": the form hosts read.
std::string dashedIdentifier(std::string_view identifier);

// Every "-" replaced by "_": the form model folders and the platform use.
std::string underscoredIdentifier(std::string_view identifier);

// Which of `installed` (sorted, in either spelling) serves `wanted`: the same
// identifier, ignoring case and separator; else one of the same language and
// region (zh_Hant_TW by zh_TW); else the first of the same language. None when
// no installed identifier has its language.
std::optional<std::size_t> bestMatch(std::string_view wanted,
                                     const std::vector<std::string>& installed);

}  // namespace scrivia::platform
