// Locale identifiers in the two spellings scrivia meets: the platform's
// (en_US) and the one it reports to hosts (en-US).
#pragma once

#include <string>
#include <string_view>

namespace scrivia::platform {

// Every "_" replaced by "-": the form hosts read.
std::string dashedIdentifier(std::string_view identifier);

// Every "-" replaced by "_": the form model folders and the platform use.
std::string underscoredIdentifier(std::string_view identifier);

}  // namespace scrivia::platform
