#include "platform/linux/speech/model_phones.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace scrivia::platform::linux_ {
namespace {

// "SIL" and the fillers ("+NSN+", "+SPN+") sit among the base phones.
void addSpoken(PhoneSet& phones, const std::string& name) {
    if (!name.empty() && name != "SIL" && name.find('+') == std::string::npos) phones.insert(name);
}

// Binary: "BMDF", version, the length of a description and the description,
// ten counts of which the first is the base phones', then their names, each
// ending in a zero byte. Written in either byte order: "FDMB" is the other.
PhoneSet fromBinary(const std::string& bytes) {
    const bool swapped = bytes.starts_with("FDMB");
    std::size_t at = 4;
    auto next = [&]() -> std::uint32_t {
        std::uint32_t value = 0;
        if (at + 4 > bytes.size()) return 0;
        std::memcpy(&value, bytes.data() + at, 4);
        at += 4;
        return swapped ? __builtin_bswap32(value) : value;
    };
    next();  // version
    at += next();
    const std::uint32_t count = next();
    for (int i = 0; i < 9; ++i) next();
    PhoneSet phones;
    for (std::uint32_t i = 0; i < count && at < bytes.size(); ++i) {
        const std::size_t end = bytes.find('\0', at);
        if (end == std::string::npos) return {};
        addSpoken(phones, bytes.substr(at, end - at));
        at = end + 1;
    }
    return phones;
}

// Text: counts ("42 n_base"), comment lines, then one line per phone, the
// base phones first with "-" for their contexts.
PhoneSet fromText(const std::string& text) {
    std::istringstream lines(text);
    std::size_t bases = 0;
    PhoneSet phones;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        const std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        if (words.size() == 2 && words[1] == "n_base") {
            std::from_chars(words[0].data(), words[0].data() + words[0].size(), bases);
        } else if (bases > 0 && words.size() > 4 && words[1] == "-" && !words[0].starts_with("#")) {
            addSpoken(phones, words[0]);
            --bases;
        }
    }
    return phones;
}

}  // namespace

PhoneSet modelPhones(const std::string& folder) {
    // The phones' names come before the rest of the file, which is large.
    std::ifstream file(folder + "/mdef", std::ios::binary);
    std::string bytes(64 * 1024, '\0');
    file.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(file.gcount()));
    if (bytes.starts_with("BMDF") || bytes.starts_with("FDMB")) return fromBinary(bytes);
    return fromText(bytes);
}

}  // namespace scrivia::platform::linux_
