#include "formatting/number_phrases.h"

#include "formatting/number_words.h"

namespace scrivia::formatting {
namespace {

struct Phrase {
    std::string text;
    std::size_t end;
};

std::optional<std::string_view> dayHalf(const LanguageRules& r, Words w, std::size_t at) {
    if (at < w.size())
        for (const SpelledWord& s : r.dayHalves)
            if (s.heard == w[at]) return s.written;
    return std::nullopt;
}

const UnitWord* unitAt(std::span<const UnitWord> units, Words w, std::size_t at) {
    if (at < w.size())
        for (const UnitWord& u : units)
            if (u.word == w[at]) return &u;
    return nullptr;
}

// "three o'clock", "eight a.m.", "eight thirty p.m.", and "at ten fifteen".
std::optional<Phrase> readTime(const LanguageRules& r, Words w, std::size_t at) {
    auto hour = valueOf(r.units, w[at]);
    if (!hour) hour = valueOf(r.teens, w[at]);
    if (!hour || *hour == 0 || *hour > r.lastHour) return std::nullopt;
    std::string text = std::to_string(*hour);
    std::size_t j = at + 1;
    if (j < w.size() && contains(r.clockWords, w[j]))
        return Phrase{text + " " + std::string(w[j]), j + 1};
    if (auto half = dayHalf(r, w, j)) return Phrase{text + " " + std::string(*half), j + 1};
    auto minutes = readPair(r, w, j, true);
    if (!minutes || minutes->first > 59) return std::nullopt;
    text.append(r.timeSeparator).append(minutes->first < 10 ? "0" : "");
    text += std::to_string(minutes->first);
    j = minutes->second;
    if (auto half = dayHalf(r, w, j)) return Phrase{text + " " + std::string(*half), j + 1};
    // "at ten twenty dollars" is an amount.
    const bool amount = j < w.size() && (valueOf(r.scales, w[j]) || unitAt(r.currencies, w, j) ||
                                         unitAt(r.percents, w, j));
    if (at > 0 && contains(r.timeIntroducers, w[at - 1]) && !amount) return Phrase{text, j};
    return std::nullopt;
}

// A year's first pair ("nineteen" of "nineteen ninety nine").
std::optional<std::pair<std::uint64_t, std::size_t>> readCentury(const LanguageRules& r, Words w,
                                                                 std::size_t at) {
    auto first = readPair(r, w, at, false);
    if (!first || first->first < r.yearPairFrom || first->first > r.yearPairTo) return std::nullopt;
    return first;
}

// "nineteen ninety nine", "twenty twenty six", "nineteen oh five".
std::optional<Phrase> readYear(const LanguageRules& r, Words w, std::size_t at) {
    auto first = readCentury(r, w, at);
    auto second = first ? readPair(r, w, first->second, true) : std::nullopt;
    if (!second) return std::nullopt;
    return Phrase{std::to_string(first->first * 100 + second->first), second->second};
}

// "the nineteen nineties" → 1990s, "the nineteen hundreds" → 1900s; not "ten
// twenties" (banknotes).
std::optional<Phrase> readDecade(const LanguageRules& r, Words w, std::size_t at) {
    auto first = readCentury(r, w, at);
    if (!first || first->second >= w.size()) return std::nullopt;
    auto decade = valueOf(r.decades, w[first->second]);
    if (!decade) return std::nullopt;
    return Phrase{std::to_string(first->first * 100 + *decade).append(r.decadeSuffix),
                  first->second + 1};
}

// Cents as decimals: ".50", ".05".
std::string centsText(const LanguageRules& r, std::uint64_t cents) {
    return std::string(r.decimalMark) + (cents < 10 ? "0" : "") + std::to_string(cents);
}

// "<n> dollars [and] <m> cents": the cents as decimals, and the end.
std::optional<Phrase> readSubunits(const LanguageRules& r, Words w, std::size_t at) {
    if (at < w.size() && w[at] == r.numberJoiner) ++at;
    auto cents = readNumber(r, w, at);
    if (!cents || cents->ordinal || !cents->decimals.empty() || !cents->scaleWord.empty() ||
        cents->value > 99 || cents->end >= w.size() || !contains(r.subunits, w[cents->end]))
        return std::nullopt;
    return Phrase{centsText(r, cents->value), cents->end + 1};
}

// Cents said short: "two dollars fifty", "five euros oh five"; not where the
// words go on as another amount ("two dollars fifty thousand").
std::optional<Phrase> readShortCents(const LanguageRules& r, Words w, std::size_t at) {
    auto cents = r.subunits.empty() ? std::nullopt : readPair(r, w, at, true);
    if (!cents) return std::nullopt;
    const std::size_t end = cents->second;
    if (end < w.size() && (valueOf(r.scales, w[end]) || unitAt(r.currencies, w, end) ||
                           unitAt(r.percents, w, end) || w[end] == r.decimalWord))
        return std::nullopt;
    return Phrase{centsText(r, cents->first), end};
}

// `n` with the unit after it ("$25.50", "10%"); none without one, nor without
// cents when `centsOnly` ("a dollar fifty" is $1.50, "a dollar" stays words).
std::optional<Phrase> withUnit(const LanguageRules& r, Words w, const SpokenNumber& n,
                               bool centsOnly = false) {
    const UnitWord* money = n.ordinal ? nullptr : unitAt(r.currencies, w, n.end);
    const UnitWord* unit = money || n.ordinal ? money : unitAt(r.percents, w, n.end);
    if (!unit) return std::nullopt;
    Phrase phrase{std::string(unit->prefix) + written(r, n), n.end + 1};
    std::optional<Phrase> cents;
    if (money && n.decimals.empty() && n.scaleWord.empty()) {
        cents = readSubunits(r, w, phrase.end);
        if (!cents) cents = readShortCents(r, w, phrase.end);
    }
    if (cents) {
        phrase.text += cents->text;
        phrase.end = cents->end;
    } else if (centsOnly) {
        return std::nullopt;
    }
    phrase.text += unit->suffix;
    return phrase;
}

// The last piece is a month, and the one before it does not make it a verb.
bool followsMonth(const LanguageRules& r, const std::vector<Piece>& pieces) {
    const auto n = pieces.size();
    return n > 0 && pieces[n - 1].kind == Piece::Kind::word &&
           contains(r.months, pieces[n - 1].text) &&
           (n < 2 || !contains(r.monthVerbSubjects, pieces[n - 2].text));
}

}  // namespace

std::vector<Piece> numberPieces(const LanguageRules& r, Words w) {
    std::vector<Piece> pieces;
    std::size_t monthAt = w.size();  // "of may" after a day: the month's index
    for (std::size_t i = 0; i < w.size();) {
        std::optional<Phrase> phrase = readDecade(r, w, i);
        if (!phrase) phrase = readTime(r, w, i);
        if (!phrase) phrase = readYear(r, w, i);
        auto n = phrase ? std::nullopt : readNumber(r, w, i);
        if (n) {
            phrase = withUnit(r, w, *n);
        } else if (!phrase && !r.one.empty() && w[i] == r.one) {
            phrase = withUnit(r, w, SpokenNumber{.end = i + 1, .value = 1}, true);
        }
        if (n && !phrase) {
            bool digits = n->value >= r.digitsFrom || !n->decimals.empty() || !n->scaleWord.empty();
            if (n->ordinal && n->value >= 1 && n->value <= 31) {
                if (n->end + 1 < w.size() && w[n->end] == r.dayOfMonth &&
                    contains(r.months, w[n->end + 1]))
                    monthAt = n->end + 1;
                if (followsMonth(r, pieces)) {
                    pieces.back().capitalised = true;
                    digits = true;
                }
            }
            if (n->ordinal && r.ordinalSuffixes.empty()) digits = false;
            if (digits) phrase = Phrase{written(r, *n), n->end};
        }
        if (!phrase) {
            pieces.push_back({std::string(w[i])});
            pieces.back().capitalised = i == monthAt;
            ++i;
            continue;
        }
        pieces.push_back({std::move(phrase->text), Piece::Kind::number});
        i = phrase->end;
    }
    return pieces;
}

}  // namespace scrivia::formatting
