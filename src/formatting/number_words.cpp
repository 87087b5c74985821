#include "formatting/number_words.h"

#include <algorithm>

namespace scrivia::formatting {
namespace {

// What the last word read was: it decides what may follow.
enum class Last { start, unit, teen, ten, hundred, scale, joiner };

bool oneOf(Last last, std::initializer_list<Last> allowed) {
    return std::find(allowed.begin(), allowed.end(), last) != allowed.end();
}

enum class Kind { unit, teen, ten, scale };

struct NumberHit {
    std::uint64_t value;
    Kind kind;
    bool ordinal;
};

std::optional<NumberHit> classify(const LanguageRules& r, std::string_view word) {
    const std::pair<std::span<const NumberWord>, NumberHit> tables[] = {
        {r.units, {0, Kind::unit, false}},   {r.unitOrdinals, {0, Kind::unit, true}},
        {r.teens, {0, Kind::teen, false}},   {r.teenOrdinals, {0, Kind::teen, true}},
        {r.tens, {0, Kind::ten, false}},     {r.tenOrdinals, {0, Kind::ten, true}},
        {r.scales, {0, Kind::scale, false}}, {r.scaleOrdinals, {0, Kind::scale, true}},
    };
    for (auto [table, hit] : tables) {
        if (auto v = valueOf(table, word)) {
            hit.value = *v;
            return hit;
        }
    }
    return std::nullopt;
}

bool isDigitWord(const LanguageRules& r, std::string_view word) {
    return word == r.zeroDigit || valueOf(r.units, word).has_value();
}

}  // namespace

std::optional<SpokenNumber> readNumber(const LanguageRules& r, Words w, std::size_t at) {
    SpokenNumber n;
    std::uint64_t total = 0, current = 0, lastScale = UINT64_MAX, beforeLastScale = 0;
    Last last = Last::start;
    std::size_t j = at;
    n.end = at;
    if (!r.one.empty() && j + 1 < w.size() && w[j] == r.one && contains(r.oneScales, w[j + 1])) {
        current = 1;
        last = Last::unit;
        ++j;
    }
    for (; j < w.size(); ++j) {
        const std::string_view word = w[j];
        const auto hit = classify(r, word);
        if (!hit) {
            if (!r.numberJoiner.empty() && word == r.numberJoiner &&
                oneOf(last, {Last::hundred, Last::scale}) && j + 1 < w.size()) {
                auto next = classify(r, w[j + 1]);
                if (next && next->kind != Kind::scale && next->value > 0) {
                    last = Last::joiner;
                    continue;
                }
            }
            break;
        }
        const std::uint64_t v = hit->value;
        if (hit->kind == Kind::unit) {
            if (v == 0) {  // zero stands alone
                if (last == Last::start) n.end = j + 1;
                break;
            }
            if (!oneOf(last, {Last::start, Last::ten, Last::hundred, Last::scale, Last::joiner}))
                break;
            current += v;
            last = Last::unit;
        } else if (hit->kind != Kind::scale) {
            if (!oneOf(last, {Last::start, Last::hundred, Last::scale, Last::joiner})) break;
            current += v;
            last = hit->kind == Kind::ten ? Last::ten : Last::teen;
        } else {
            if (last == Last::start) {
                if (!hit->ordinal) break;  // "hundredth" alone is 100th; "hundred" alone no number
                current = 1;
            } else if (!oneOf(last, {Last::unit, Last::teen, Last::ten, Last::hundred})) {
                break;
            }
            if (v < 1000) {  // "hundred" multiplies what comes before it
                if (last == Last::hundred || current >= v) break;
                current *= v;
                last = Last::hundred;
            } else {
                if (current == 0 || v >= lastScale) break;
                beforeLastScale = total;
                total += current * v;
                current = 0;
                lastScale = v;
                last = Last::scale;
            }
        }
        n.end = j + 1;
        if (hit->ordinal) {
            n.ordinal = true;
            break;
        }
    }
    if (n.end == at || (n.end == at + 1 && w[at] == r.one)) return std::nullopt;
    n.value = total + current;
    if (last == Last::scale && !n.ordinal && n.end == j && beforeLastScale == 0 &&
        lastScale >= r.wordScalesFrom) {
        n.scaleWord = w[n.end - 1];
        n.value = total / lastScale;
    }
    if (!n.ordinal && n.scaleWord.empty() && n.end + 1 < w.size() && w[n.end] == r.decimalWord &&
        isDigitWord(r, w[n.end + 1])) {
        std::size_t k = n.end + 1;
        for (; k < w.size() && isDigitWord(r, w[k]); ++k)
            n.decimals +=
                w[k] == r.zeroDigit ? '0' : static_cast<char>('0' + *valueOf(r.units, w[k]));
        n.end = k;
        // "two point five million"
        if (auto s = valueOf(r.scales, k < w.size() ? w[k] : ""); s && *s >= r.wordScalesFrom) {
            n.scaleWord = w[k];
            n.end = k + 1;
        }
    }
    return n;
}

std::optional<std::pair<std::uint64_t, std::size_t>> readPair(const LanguageRules& r, Words w,
                                                              std::size_t at, bool zeroFirst) {
    if (at >= w.size()) return std::nullopt;
    if (zeroFirst && w[at] == r.zeroDigit && at + 1 < w.size()) {
        auto u = valueOf(r.units, w[at + 1]);
        if (u && *u > 0) return std::pair{*u, at + 2};
        return std::nullopt;
    }
    if (auto t = valueOf(r.teens, w[at])) return std::pair{*t, at + 1};
    auto t = valueOf(r.tens, w[at]);
    if (!t) return std::nullopt;
    auto u = at + 1 < w.size() ? valueOf(r.units, w[at + 1]) : std::nullopt;
    if (u && *u > 0) return std::pair{*t + *u, at + 2};
    return std::pair{*t, at + 1};
}

std::string digits(const LanguageRules& r, std::uint64_t n) {
    std::string plain = std::to_string(n);
    if (n < r.groupFrom) return plain;
    std::string grouped;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        if (i > 0 && (plain.size() - i) % 3 == 0) grouped += r.groupSeparator;
        grouped += plain[i];
    }
    return grouped;
}

std::string written(const LanguageRules& r, const SpokenNumber& n) {
    std::string text = digits(r, n.value);
    if (!n.decimals.empty()) text.append(r.decimalMark).append(n.decimals);
    if (n.ordinal) {
        for (const OrdinalSuffix& s : r.ordinalSuffixes) {
            const auto rest = s.modulus == 0 ? n.value : n.value % s.modulus;
            if (rest >= s.from && rest <= s.to) {
                text += s.suffix;
                break;
            }
        }
    }
    if (!n.scaleWord.empty()) text.append(" ").append(n.scaleWord);
    return text;
}

}  // namespace scrivia::formatting
