// Locale identifiers in the two spellings scrivia meets: the platform's
// (en_US) and the one it reports to hosts (en-US).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivia::platform {

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
