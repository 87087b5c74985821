#include "formatting/place_names.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "formatting/language_rules.h"
#include "formatting/name_list.h"

namespace scrivia::formatting {
namespace {

using Json = nlohmann::json;

// "Korea, Republic of", "Saint Martin (French part)" and "Wales [Cymru
// GB-CYM]" are catalogue forms nobody says; names of one word need no table.
bool sayable(std::string_view name) {
    return name.find_first_of(",()[]/") == std::string_view::npos && wordsOf(name).size() > 1;
}

// The names in an ISO 3166 file of iso-codes, read as a stream so the 500 KB
// of subdivisions never become a document in memory.
class IsoNames : public nlohmann::json_sax<Json> {
  public:
    explicit IsoNames(std::vector<std::string>& names) : names_(names) {}
    bool key(string_t& k) override {
        named_ = k == "name" || k == "common_name" || k == "official_name";
        return true;
    }
    bool string(string_t& value) override {
        if (named_ && sayable(value)) names_.push_back(std::move(value));
        named_ = false;
        return true;
    }
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;  // what was read before the fault stays
    }

  private:
    std::vector<std::string>& names_;
    bool named_ = false;
};

std::vector<std::string> isoNames(std::string_view path) {
    std::vector<std::string> names;
    std::ifstream in{std::string(path), std::ios::binary};
    IsoNames collector(names);
    if (in) Json::sax_parse(in, &collector);
    return names;
}

// "America/Argentina/Buenos_Aires" → "Buenos Aires", from a zone table's third column.
std::vector<std::string> zoneCities(std::string_view path) {
    std::vector<std::string> cities;
    std::ifstream in{std::string(path)};
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto zone = line.find('\t', line.find('\t') + 1);
        if (zone == std::string::npos) continue;
        auto city = line.substr(zone + 1, line.find('\t', zone + 1) - zone - 1);
        city.erase(0, city.rfind('/') + 1);
        std::replace(city.begin(), city.end(), '_', ' ');
        if (sayable(city)) cities.push_back(std::move(city));
    }
    return cities;
}

// Whether the list writes one of the name's words only with a capital.
bool hasOnlyCapitalisedWord(const NameList& list, std::string_view name) {
    for (auto word : wordsOf(name)) {
        const auto found = list.find(lowerCase(word));
        if (found && !found->alsoLowerCase) return true;
    }
    return false;
}

// Keeps the cities with a word the list does not hold in lower case: "Sao
// Paulo" and "New York" stay, "Swift Current" and "Broken Hill" are words.
void keepUncommon(std::vector<std::string>& cities, std::string_view lines) {
    std::vector<std::string> words;
    for (const auto& city : cities)
        for (auto word : wordsOf(city)) words.push_back(lowerCase(word));
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    std::vector<bool> common(words.size());
    while (!lines.empty()) {
        const auto end = lines.find('\n');
        auto line = lines.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto it = std::lower_bound(words.begin(), words.end(), line);
        if (it != words.end() && *it == line)
            common[static_cast<std::size_t>(it - words.begin())] = true;
        if (end == std::string_view::npos) break;
        lines.remove_prefix(end + 1);
    }
    std::erase_if(cities, [&](const std::string& city) {
        for (auto word : wordsOf(city)) {
            const auto it = std::lower_bound(words.begin(), words.end(), lowerCase(word));
            if (!common[static_cast<std::size_t>(it - words.begin())]) return false;
        }
        return true;
    });
}

}  // namespace

SpelledPhrases loadPlaceNames(const LanguageRules& rules, std::string_view lines,
                              const NameList& names) {
    // Countries first: their spelling stands where a city shares the name.
    auto all = isoNames(rules.countriesPath);
    for (auto& name : isoNames(rules.subdivisionsPath))
        if (hasOnlyCapitalisedWord(names, name)) all.push_back(std::move(name));
    auto cities = zoneCities(rules.zoneTablePath);
    keepUncommon(cities, lines);
    std::move(cities.begin(), cities.end(), std::back_inserter(all));
    return SpelledPhrases(all, 2);
}

}  // namespace scrivia::formatting
