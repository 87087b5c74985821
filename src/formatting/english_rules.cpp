// English, as the recogniser's dictionary spells it: lower case, "a.m.",
// "o'clock", "i'm".
#include "formatting/language_rules.h"
#include "formatting/rules_check.h"

namespace scrivia::formatting {
namespace {

using SV = std::string_view;

constexpr NumberWord units[] = {{"zero", 0}, {"one", 1}, {"two", 2},   {"three", 3}, {"four", 4},
                                {"five", 5}, {"six", 6}, {"seven", 7}, {"eight", 8}, {"nine", 9}};
constexpr NumberWord teens[] = {
    {"ten", 10},     {"eleven", 11},  {"twelve", 12},    {"thirteen", 13}, {"fourteen", 14},
    {"fifteen", 15}, {"sixteen", 16}, {"seventeen", 17}, {"eighteen", 18}, {"nineteen", 19}};
constexpr NumberWord tens[] = {{"twenty", 20}, {"thirty", 30},  {"forty", 40},  {"fifty", 50},
                               {"sixty", 60},  {"seventy", 70}, {"eighty", 80}, {"ninety", 90}};
constexpr NumberWord scales[] = {
    {"hundred", 100}, {"thousand", 1000}, {"million", 1000000}, {"billion", 1000000000}};
// "second" is the ordinal: "march second" is March 2nd, "twenty second" 22nd.
// "twenty seconds" (a duration) is another word and stays "20 seconds".
constexpr NumberWord unitOrdinals[] = {{"first", 1},   {"second", 2}, {"third", 3},
                                       {"fourth", 4},  {"fifth", 5},  {"sixth", 6},
                                       {"seventh", 7}, {"eighth", 8}, {"ninth", 9}};
constexpr NumberWord teenOrdinals[] = {{"tenth", 10},      {"eleventh", 11},    {"twelfth", 12},
                                       {"thirteenth", 13}, {"fourteenth", 14},  {"fifteenth", 15},
                                       {"sixteenth", 16},  {"seventeenth", 17}, {"eighteenth", 18},
                                       {"nineteenth", 19}};
constexpr NumberWord tenOrdinals[] = {{"twentieth", 20}, {"thirtieth", 30}, {"fortieth", 40},
                                      {"fiftieth", 50},  {"sixtieth", 60},  {"seventieth", 70},
                                      {"eightieth", 80}, {"ninetieth", 90}};
constexpr NumberWord scaleOrdinals[] = {
    {"hundredth", 100}, {"thousandth", 1000}, {"millionth", 1000000}};
constexpr OrdinalSuffix ordinalSuffixes[] = {
    {100, 11, 13, "th"}, {10, 1, 1, "st"}, {10, 2, 2, "nd"}, {10, 3, 3, "rd"}, {10, 0, 9, "th"}};
// After a year's first pair: "the nineteen nineties", "the nineteen hundreds".
// Not "tens": "twenty tens" are banknotes as often as a decade.
constexpr NumberWord decades[] = {{"hundreds", 0},   {"twenties", 20}, {"thirties", 30},
                                  {"forties", 40},   {"fifties", 50},  {"sixties", 60},
                                  {"seventies", 70}, {"eighties", 80}, {"nineties", 90}};
// "a hundred" and "a thousand" are numbers; "a million" stays words ("a million thanks").
constexpr SV oneScales[] = {"hundred", "thousand"};

constexpr UnitWord currencies[] = {
    {"dollars", "$", ""}, {"dollar", "$", ""}, {"euros", "€", ""}, {"euro", "€", ""}};
constexpr UnitWord percents[] = {{"percent", "", "%"}};
constexpr SV subunits[] = {"cents", "cent"};
// "am" is also the verb: it is a time only right after an hour ("eight am"),
// so "i am" stays "I am".
constexpr SpelledWord dayHalves[] = {{"a.m.", "AM"}, {"p.m.", "PM"}, {"am", "AM"}, {"pm", "PM"}};
constexpr SV clockWords[] = {"o'clock"};
// Without "a.m." or "o'clock", "eight thirty" is a time only after one of
// these; elsewhere it stays a count ("two twenty dollar bills").
constexpr SV timeIntroducers[] = {"at", "by",     "until", "till",   "from",
                                  "to", "before", "after", "around", "it's"};

constexpr SV months[] = {"january", "february", "march",     "april",   "may",      "june",
                         "july",    "august",   "september", "october", "november", "december"};
// "you may first ask" and "we march third": a verb, not a date.
constexpr SV monthVerbSubjects[] = {"i",    "you", "he",   "she",  "it",    "we",
                                    "they", "who", "this", "that", "which", "there"};

// "the period", "a new line", "this comma": a determiner makes any mark a noun.
constexpr SV markNounMakers[] = {"a",    "an",    "the", "this",    "that",  "these", "those",
                                 "each", "every", "any", "another", "one",   "my",    "your",
                                 "his",  "her",   "its", "our",     "their", "same"};
// "no" is also the answer: "the answer is no period".
constexpr SV nounMakersBeforeMore[] = {"no"};
// "period" is also a stretch of time or a lesson; these make it one.
constexpr SV periodNounMakers[] = {
    "long",   "short",    "brief",   "trial",      "grace",      "waiting",   "cooling", "whole",
    "entire", "given",    "certain", "transition", "notice",     "probation", "rest",    "time",
    "study",  "first",    "second",  "third",      "fourth",     "fifth",     "sixth",   "last",
    "next",   "previous", "later",   "early",      "historical", "honeymoon"};
constexpr SpokenMark marks[] = {
    {"period", ".", Attach::toPrevious, periodNounMakers},
    // Not made likely: made so, "the hall stopped" is heard as "the full stop".
    {"full stop", ".", Attach::toPrevious, {}, false},
    {"comma", ",", Attach::toPrevious},
    {"question mark", "?", Attach::toPrevious},
    {"exclamation mark", "!", Attach::toPrevious},
    {"exclamation point", "!", Attach::toPrevious},
    {"semicolon", ";", Attach::toPrevious},
    {"semi colon", ";", Attach::toPrevious},
    {"colon", ":", Attach::toPrevious},
    {"new line", "\n", Attach::toNeither},
    {"new paragraph", "\n\n", Attach::toNeither},
    {"open quote", "\"", Attach::toNext},
    {"quote", "\"", Attach::toNext},
    {"close quote", "\"", Attach::toPrevious},
    {"unquote", "\"", Attach::toPrevious},
    {"end quote", "\"", Attach::toPrevious},
    {"open parenthesis", "(", Attach::toNext},
    {"close parenthesis", ")", Attach::toPrevious},
    {"open bracket", "[", Attach::toNext},
    {"close bracket", "]", Attach::toPrevious},
    // Joined to the words on both sides, spaces and all. "dash" is not made
    // likely: made so, it is heard in names ("dashwood") and "dashed".
    {"dash", " \u2013 ", Attach::toNeither, {}, false},
    {"hyphen", "-", Attach::toNeither},
    {"slash", "/", Attach::toNeither},
    {"at sign", "@", Attach::toNeither},
    {"ampersand", " & ", Attach::toNeither},
    {"ellipsis", "\u2026", Attach::toPrevious},
    {"dot dot dot", "\u2026", Attach::toPrevious},
};

constexpr SV openOnlyWhenClosed[] = {"quote"};
constexpr SV closedBy[] = {".", "?", "!", ":", ";", ",", "\u2026"};

// Words the rules act on that the language model holds seldom or never: a
// lone "quote" opens a quotation its closing word ends.
constexpr SV rareWords[] = {"quote", "u.s.", "d.c.", "missus"};
// Words of the tables the dictionary lacks, in the model's phones.
constexpr Pronunciation pronunciations[] = {{"semicolon", "S EH M IY K OW L AH N"},
                                            {"ellipsis", "IH L IH P S IH S"}};

// "e.g." is letters joined by dots but stays as it is, unlike "u.s." (U.S.).
constexpr SpelledWord fixedSpellings[] = {{"i", "I"},       {"i'm", "I'm"},   {"i'd", "I'd"},
                                          {"i've", "I've"}, {"i'll", "I'll"}, {"e.g.", "e.g."},
                                          {"i.e.", "i.e."}};
// The list holds these both ways ("Will", "May", "Colon"), but after a name
// or a title they are the sentence going on: "john will call", "the doctor
// may see you", "paris in may".
constexpr SV notNames[] = {"a",    "am",   "an",   "and",   "as",    "at",   "be",  "begin", "best",
                           "born", "can",  "case", "colon", "day",   "did",  "do",  "for",   "good",
                           "he",   "hi",   "ho",   "i",     "ill",   "in",   "is",  "it",    "job",
                           "key",  "left", "lie",  "lot",   "march", "may",  "me",  "more",  "now",
                           "oh",   "or",   "ride", "rip",   "sat",   "set",  "so",  "tell",  "us",
                           "wed",  "who",  "will", "led",   "sang",  "sung", "hung"};
// Surnames too ("mister brown"), but after a first name the sentence going on.
constexpr SV neverAfterName[] = {"long",  "love",  "mark",  "major", "post",  "price", "rock",
                                 "sun",   "west",  "east",  "north", "south", "young", "white",
                                 "black", "brown", "green", "gross", "small", "short", "sweet",
                                 "rich",  "nice",  "house", "head",  "land",  "park",  "wash"};
// The list holds these in lower case too ("john", "peter out"), but a person
// dictating them means the name.
constexpr SV usuallyNames[] = {"john", "johnny", "jimmy", "peter", "harry",
                               "tom",  "ted",    "mike",  "matt"};
// The recogniser's dictionary spells the short forms too ("mr.").
constexpr SpelledWord titles[] = {{"mister", "Mr."},      {"mr.", "Mr."},    {"missus", "Mrs."},
                                  {"mrs.", "Mrs."},       {"doctor", "Dr."}, {"dr.", "Dr."},
                                  {"professor", "Prof."}, {"prof.", "Prof."}};
constexpr SV monthTimeWords[] = {"last", "next", "this", "early", "late", "in", "since", "until"};

}  // namespace

const LanguageRules& englishRules() {
    static constexpr LanguageRules rules{
        .units = units,
        .teens = teens,
        .tens = tens,
        .scales = scales,
        .unitOrdinals = unitOrdinals,
        .teenOrdinals = teenOrdinals,
        .tenOrdinals = tenOrdinals,
        .scaleOrdinals = scaleOrdinals,
        .one = "a",
        .oneScales = oneScales,
        // "and" belongs to a number only after a scale and before a smaller
        // part: "two hundred and five" is 205, "three kids and twelve cats" two counts.
        .numberJoiner = "and",
        .decimalWord = "point",
        .zeroDigit = "oh",
        .decimalMark = ".",
        .groupSeparator = ",",
        // Years are spoken in pairs ("nineteen ninety nine" → 1999, "twenty
        // twenty six" → 2026); a first pair up to 12 is an hour ("ten thirty").
        // "two thousand" is a count, written 2000 like any number under 10,000.
        .yearPairFrom = 13,
        .yearPairTo = 20,
        .ordinalSuffixes = ordinalSuffixes,
        .decades = decades,
        .decadeSuffix = "s",
        .currencies = currencies,
        .percents = percents,
        .subunits = subunits,
        .dayHalves = dayHalves,
        .clockWords = clockWords,
        .timeIntroducers = timeIntroducers,
        .months = months,
        .monthVerbSubjects = monthVerbSubjects,
        .dayOfMonth = "of",
        .marks = marks,
        .markNounMakers = markNounMakers,
        .nounMakersBeforeMore = nounMakersBeforeMore,
        .openOnlyWhenClosed = openOnlyWhenClosed,
        .closedBy = closedBy,
        .closingMarkInside = "\"",  // American style: `he said "hello."`
        .fixedSpellings = fixedSpellings,
        .notNames = notNames,
        .neverAfterName = neverAfterName,
        .usuallyNames = usuallyNames,
        .possessive = "'s",
        .nameListPath = "/usr/share/dict/american-english",
        .titles = titles,
        .monthTimeWords = monthTimeWords,
        .countriesPath = "/usr/share/iso-codes/json/iso_3166-1.json",
        .subdivisionsPath = "/usr/share/iso-codes/json/iso_3166-2.json",
        .zoneTablePath = "/usr/share/zoneinfo/zone.tab",
        .rareWords = rareWords,
        .pronunciations = pronunciations,
    };
    static_assert(rulesProblem(rules).empty(), "the English tables are not usable");
    return rules;
}

}  // namespace scrivia::formatting
