#include "platform/locale_identifier.h"

#include <algorithm>

namespace scrivia::platform {

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

}  // namespace scrivia::platform
