// What one language says about dictation text, as tables. The formatter's
// machinery reads them; a new language is a new instance, not new code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace scrivia::formatting {

using Words = std::span<const std::string_view>;

struct NumberWord {
    std::string_view word;
    std::uint64_t value;
};

// Where a spoken mark goes: a closing mark sticks to the word before it, an
// opening mark to the word after it, a line break to neither.
enum class Attach { toPrevious, toNext, toNeither };

struct SpokenMark {
    std::string_view words;  // as the recogniser spells them, one space apart
    std::string_view mark;
    Attach attach;
    Words alsoNounAfter = {};  // besides `LanguageRules::markNounMakers`
    // Made likely for the recogniser to hear. A mark heard where nobody said
    // it once made likely is not: it is still written when heard.
    bool boosted = true;
};

// The suffix of an ordinal written in digits: the first row where
// `n % modulus` (modulus 0: n itself) lies in [from, to] gives it ("21st", "12th").
struct OrdinalSuffix {
    std::uint64_t modulus, from, to;
    std::string_view suffix;
};

// A word written after a number: `prefix` for money ("$25"), else `suffix`.
struct UnitWord {
    std::string_view word;
    std::string_view prefix;
    std::string_view suffix;
};

struct SpelledWord {
    std::string_view heard;
    std::string_view written;
};

// How a word of the tables is said, in the phones of the language's acoustic
// model, for a recogniser whose dictionary lacks it.
struct Pronunciation {
    std::string_view word;
    std::string_view phones;
};

// The marks a text may end with when a language names none.
inline constexpr std::string_view defaultClosers[] = {".", "?", "!", ":", ";", ","};

// Every table may be empty; empty tables give plain words with a sentence
// capital and the closing mark.

struct LanguageRules {
    // Numbers. Units hold zero to nine, teens ten to nineteen.
    std::span<const NumberWord> units, teens, tens, scales;
    std::span<const NumberWord> unitOrdinals, teenOrdinals, tenOrdinals, scaleOrdinals;
    std::string_view one;  // stands for 1 before `oneScales` ("a hundred")
    Words oneScales;
    std::string_view numberJoiner;  // joins the part below a scale ("two hundred and five")
    std::string_view decimalWord;   // "three point five"
    std::string_view zeroDigit;  // a spoken 0 inside years, times and decimals ("nineteen oh five")
    std::string_view decimalMark, groupSeparator;
    std::uint64_t groupFrom = 10000;  // the smallest number written with separators
    std::uint64_t digitsFrom = 10;    // smaller numbers stay words unless they carry a unit
    // A round multiple of a scale this large keeps its word ("2 million").
    std::uint64_t wordScalesFrom = 1000000;
    // First pairs of years spoken as two pairs ("nineteen ninety nine"); 0 to 0: none.
    std::uint64_t yearPairFrom = 0, yearPairTo = 0;
    std::uint64_t lastHour = 12;  // hours of times with minutes or a clock word
    std::string_view timeSeparator = ":";
    // Ordinals in digits take these ("21st"); none: ordinals stay words.
    std::span<const OrdinalSuffix> ordinalSuffixes = {};
    // A year's first pair before one of these is a decade or a century ("the
    // nineteen nineties"), written with `decadeSuffix` ("1990s").
    std::span<const NumberWord> decades = {};
    std::string_view decadeSuffix = {};

    // Words after a number.
    std::span<const UnitWord> currencies, percents;
    Words subunits;  // "cents" after a currency amount; with them, cents may be said
                     // short ("two dollars fifty")
    std::span<const SpelledWord> dayHalves;  // "a.m." → "AM", after a time
    Words clockWords;                        // "o'clock", kept as words after the hour
    Words timeIntroducers;  // words after which "eight thirty" is a time ("at eight thirty")

    // Months capitalise before a day ordinal unless they follow one of
    // `monthVerbSubjects`, and after a day ordinal and `dayOfMonth` ("the fifth of may").
    Words months, monthVerbSubjects;
    std::string_view dayOfMonth;

    // Spoken punctuation; where phrases share a start, the longest heard wins.
    std::span<const SpokenMark> marks;
    Words markNounMakers;  // "a new line", "the period": the words stay
    // Make a mark's words a noun only when more words follow: "no period of
    // rest", but "the answer is no period".
    Words nounMakersBeforeMore = {};
    // Opening marks that are marks only when their closing mark follows: a
    // lone "quote" stays a word.
    Words openOnlyWhenClosed = {};
    std::string_view sentenceEnds = ".?!\n";  // a capital follows these
    std::string_view closingMark = ".";       // ends a final, unless it ends with one
    Words closedBy = defaultClosers;          // of these already; said twice, written once
    // A closing mark that a final's closing mark goes inside: `"hello."`.
    std::string_view closingMarkInside = {};

    // Words always written one way ("i" → "I"). Words the list holds both ways
    // that never name anyone after a name or a title ("john will", "the doctor
    // will"), and words that do after a title but not after a name ("mister
    // brown", "john brown shoes").
    std::span<const SpelledWord> fixedSpellings;
    Words notNames = {};
    Words neverAfterName;
    Words usuallyNames;  // held both ways by the list, but a person means the name ("john")
    std::string_view possessive;  // "'s": a name's possessive is the name's
    std::string_view nameListPath;
    // Titles before a name: "mister brown" is "Mr. Brown".
    std::span<const SpelledWord> titles = {};
    // A month after these is the month ("last march"); after one that is also
    // in `monthVerbSubjects` ("this may be") only when no word follows it.
    Words monthTimeWords = {};
    // Names of more than one word ("New York"), read with the word list:
    // countries and their subdivisions (iso-codes' ISO 3166 JSON files) and
    // the cities of tzdata's zone table ("America/Sao_Paulo").
    std::string_view countriesPath, subdivisionsPath, zoneTablePath;

    // What the recogniser needs to hear the words these rules act on: words
    // its language model seldom predicts ("u.s."), made likely with the marks'
    // words, and pronunciations its dictionary may lack.
    Words rareWords = {};
    std::span<const Pronunciation> pronunciations = {};
};

// The rules for a language code ("en", any case); the empty rules for a
// language without tables. The caller cuts the code from a locale identifier.
const LanguageRules& rulesFor(std::string_view language);

const LanguageRules& englishRules();

// The rules whose word list is `nameListPath`, if any.
const LanguageRules* rulesReadingNameList(std::string_view nameListPath);

// Lookups in a table: the value of `word`, and whether it is one of them.
std::optional<std::uint64_t> valueOf(std::span<const NumberWord> table, std::string_view word);
bool contains(Words table, std::string_view word);

}  // namespace scrivia::formatting
