// The formatter as a person dictating meets it: what they say, and the text
// a final, a partial and a --no-punctuation run write for it.
#include <gtest/gtest.h>

#include <span>

#include "formatting/formatter.h"
#include "formatting/language_rules.h"
#include "formatting/rules_check.h"

namespace scrivia::formatting {
namespace {

// fresh: English with the word list; continues: the last final ended with ",";
// noList: no word list; french: a language without tables.
enum Context { fresh, continues, noList, french };

TEST(Formatter, SpokenWordsToText) {
    const auto names = loadNameList("/usr/share/dict/american-english");
    ASSERT_NE(names, nullptr) << "the package wamerican is missing";
    struct Row {
        std::string_view words, final, partial, plain;
        Context context = fresh;
    };
    // clang-format off
    for (const Row& r : std::initializer_list<Row>{
        {"i told john i would call on monday", "I told John I would call on Monday.", "I told John I would call on Monday", "I told John I would call on Monday"},
        {"it costs twenty five dollars and fifty cents", "It costs $25.50.", "It costs $25.50", "it costs $25.50"},
        {"sales grew by ten percent in nineteen ninety nine", "Sales grew by 10% in 1999.", "Sales grew by 10% in 1999", "sales grew by 10% in 1999"},
        {"we have three kids and twelve cats", "We have three kids and 12 cats.", "We have three kids and 12 cats", "we have three kids and 12 cats"},
        {"she sold two hundred thousand copies", "She sold 200,000 copies.", "She sold 200,000 copies", "she sold 200,000 copies"},
        {"the meeting is on march twenty first at three o'clock", "The meeting is on March 21st at 3 o'clock.", "The meeting is on March 21st at 3 o'clock", "the meeting is on March 21st at 3 o'clock"},
        {"call me at eight thirty a.m.", "Call me at 8:30 AM.", "Call me at 8:30 AM", "call me at 8:30 AM"},
        {"hello comma how are you question mark", "Hello, how are you?", "Hello, how are you?", "hello comma how are you question mark"},
        {"thanks period new paragraph see you soon", "Thanks.\n\nSee you soon.", "Thanks.\n\nSee you soon", "thanks period new paragraph see you soon"},
        {"it was a long period of time", "It was a long period of time.", "It was a long period of time", "it was a long period of time"},
        // Marks and what makes their words nouns.
        {"the grace period ends now period", "The grace period ends now.", "The grace period ends now.", "the grace period ends now period"},
        {"we launched a new line semicolon it sold", "We launched a new line; it sold.", "We launched a new line; it sold", "we launched a new line semicolon it sold"},
        {"she said open quote wow exclamation mark close quote new line see open parenthesis below close parenthesis colon", "She said \"wow!\"\nSee (below):", "She said \"wow!\"\nSee (below):", "she said open quote wow exclamation mark close quote new line see open parenthesis below close parenthesis colon"},
        // Months as verbs, and a month with its day.
        {"we march on march third and the tenth of may", "We march on March 3rd and the 10th of May.", "We march on March 3rd and the 10th of May", "we march on March 3rd and the 10th of May"},
        {"may first is a holiday but you may first ask", "May 1st is a holiday but you may first ask.", "May 1st is a holiday but you may first ask", "May 1st is a holiday but you may first ask"},
        // Numbers under ten stay words unless they carry a unit.
        {"five apples weigh three point five pounds and cost five dollars", "Five apples weigh 3.5 pounds and cost $5.", "Five apples weigh 3.5 pounds and cost $5", "five apples weigh 3.5 pounds and cost $5"},
        {"a hundred people saw two million stars", "100 people saw 2 million stars.", "100 people saw 2 million stars", "100 people saw 2 million stars"},
        {"fifty cents or twenty euros", "50 cents or €20.", "50 cents or €20", "50 cents or €20"},
        {"two hundred and five people aged five and ten", "205 people aged five and 10.", "205 people aged five and 10", "205 people aged five and 10"},
        {"the first eleventh twelfth thirteenth and one hundred and eleventh", "The first 11th 12th 13th and 111th.", "The first 11th 12th 13th and 111th", "the first 11th 12th 13th and 111th"},
        {"in nineteen oh five nine thousand nine hundred became ten thousand", "In 1905 9900 became 10,000.", "In 1905 9900 became 10,000", "in 1905 9900 became 10,000"},
        {"twenty twenty six", "2026.", "2026", "2026"},
        // Times: "am" is the verb unless it follows an hour.
        {"i'm up at seven am and i am tired", "I'm up at 7 AM and I am tired.", "I'm up at 7 AM and I am tired", "I'm up at 7 AM and I am tired"},
        {"from ten fifteen to eleven with two twenty dollar bills", "From 10:15 to 11 with two $20 bills.", "From 10:15 to 11 with two $20 bills", "from 10:15 to 11 with two $20 bills"},
        // Names: only-capitalised words, both-ways words after a name, possessives.
        {"john smith will drive john's car to the smith", "John Smith will drive John's car to the smith.", "John Smith will drive John's car to the smith", "John Smith will drive John's car to the smith"},
        // Places of more than one word, titles, dotted short forms, months after a time word.
        {"we met in new york last march", "We met in New York last March.", "We met in New York last March", "we met in New York last March"},
        {"the united states of america", "The United States of America.", "The United States of America", "the United States of America"},
        {"a new car in sao paulo cote d'ivoire or the united states minor outlying islands", "A new car in Sao Paulo Côte d'Ivoire or the United States Minor Outlying Islands.", "A new car in Sao Paulo Côte d'Ivoire or the United States Minor Outlying Islands", "a new car in Sao Paulo Côte d'Ivoire or the United States Minor Outlying Islands"},
        {"free state north east west coast swift current north carolina", "Free state north east west coast swift current North Carolina.", "Free state north east west coast swift current North Carolina", "free state north east west coast swift current North Carolina"},
        {"mister brown is here", "Mr. Brown is here.", "Mr. Brown is here", "Mr. Brown is here"},
        {"ask doctor smith's missus jones the doctor said a doctor who doctor the numbers", "Ask Dr. Smith's Mrs. Jones the doctor said a doctor who doctor the numbers.", "Ask Dr. Smith's Mrs. Jones the doctor said a doctor who doctor the numbers", "ask Dr. Smith's Mrs. Jones the doctor said a doctor who doctor the numbers"},
        {"the u.s. economy e.g. in d.c. at eight p.m.", "The U.S. economy e.g. in D.C. at 8 PM.", "The U.S. economy e.g. in D.C. at 8 PM", "the U.S. economy e.g. in D.C. at 8 PM"},
        {"she moved to the u.k.", "She moved to the U.K.", "She moved to the U.K.", "she moved to the U.K."},
        {"we march in march and this may be late this may", "We march in March and this may be late this May.", "We march in March and this may be late this May", "we march in March and this may be late this May"},
        {"i told john about paris", "I told john about paris.", "I told john about paris", "I told john about paris", noList},
        {"thank you for the flowers", "thank you for the flowers.", "thank you for the flowers", "thank you for the flowers", continues},
        // Money said short, decades, quotes, doubled and leading marks, the newer marks.
        {"it costs a dollar fifty or two dollars fifty", "It costs $1.50 or $2.50.", "It costs $1.50 or $2.50", "it costs $1.50 or $2.50"},
        {"five euros twenty and three dollars and five cents not a dollar", "€5.20 and $3.05 not a dollar.", "€5.20 and $3.05 not a dollar", "€5.20 and $3.05 not a dollar"},
        {"the nineteen nineties and the nineteen hundreds not the nineties", "The 1990s and the 1900s not the nineties.", "The 1990s and the 1900s not the nineties", "the 1990s and the 1900s not the nineties"},
        {"he said quote hello unquote so i quote you quote wow end quote", "He said \"hello\" so I quote you \"wow.\"", "He said \"hello\" so I quote you \"wow\"", "he said quote hello unquote so I quote you quote wow end quote"},
        {"hello comma comma world question mark period", "Hello, world?", "Hello, world?", "hello comma comma world question mark period"},
        {"no period of rest or the colon the answer is no period", "No period of rest or the colon the answer is no.", "No period of rest or the colon the answer is no.", "no period of rest or the colon the answer is no period"},
        {"comma was it", ", was it.", ", was it", "comma was it"},
        {"question mark was it", "? Was it.", "? Was it", "question mark was it"},
        {"add a dash of salt dash ten hyphen twenty and slash or the slash open bracket me at sign home close bracket ampersand friends dot dot dot", "Add a dash of salt – 10-20 and/or the slash [me@home] & friends…", "Add a dash of salt – 10-20 and/or the slash [me@home] & friends…", "add a dash of salt dash 10 hyphen 20 and slash or the slash open bracket me at sign home close bracket ampersand friends dot dot dot"},
        {"été twenty one i", "Été twenty one i.", "Été twenty one i", "été twenty one i", french},
    }) {
        // clang-format on
        const auto list = r.context == noList ? nullptr : names;
        const char* language = r.context == french ? "fr" : "en";
        const bool continuing = r.context == continues;
        const Formatter on(language, list), off(language, list, {.punctuation = false});
        EXPECT_EQ(on.format(r.words, TextKind::final, continuing), r.final) << r.words;
        EXPECT_EQ(on.format(r.words, TextKind::partial, continuing), r.partial) << r.words;
        EXPECT_EQ(off.format(r.words, TextKind::final, continuing), r.plain) << r.words;
    }
    EXPECT_EQ(Formatter::nameListPath("EN"), "/usr/share/dict/american-english");
    EXPECT_EQ(Formatter::nameListPath("fr"), "");
    EXPECT_EQ(loadNameList("/nonexistent/words"), nullptr);
}

// A person's own words win over every pass: numbers, marks, names, places.
TEST(Formatter, APersonsOwnWordsAsSpelled) {
    const auto names = loadNameList("/usr/share/dict/american-english");
    const std::vector<std::string> own = {"GitHub",        "iPhone", "Node.js",
                                          "Anouk Dupont",  "Dupont", "Seven Eleven",
                                          "Comma Capital", "PARIS",  "United States Steel"};
    // clang-format off
    struct Row { std::string_view words, final, plain; bool withOwn = true; };
    for (const Row& r : std::initializer_list<Row>{
        {"iphone users push node.js to github", "iPhone users push Node.js to GitHub.", "iPhone users push Node.js to GitHub"},
        {"anouk dupont and dupont", "Anouk Dupont and Dupont.", "Anouk Dupont and Dupont"},
        {"anouk dupont and dupont", "Anouk DuPont and DuPont.", "anouk DuPont and DuPont", false},
        {"at seven eleven comma capital", "At Seven Eleven Comma Capital.", "at Seven Eleven Comma Capital"},
        {"at seven eleven comma capital", "At 7:11, capital.", "at 7:11 comma capital", false},
        {"paris and the united states steel of the united states", "PARIS and the United States Steel of the United States.", "PARIS and the United States Steel of the United States"},
        {"paris and the united states steel of the united states", "Paris and the United States steel of the United States.", "Paris and the United States steel of the United States", false},
    }) {
        // clang-format on
        const std::span<const std::string> words = r.withOwn ? own : std::span<const std::string>{};
        const Formatter on("en", names, {.ownWords = words}),
            off("en", names, {.punctuation = false, .ownWords = words});
        EXPECT_EQ(on.format(r.words, TextKind::final), r.final) << r.words;
        EXPECT_EQ(on.format(r.words, TextKind::partial) + ".", r.final) << r.words;
        EXPECT_EQ(off.format(r.words, TextKind::final), r.plain) << r.words;
    }
}

// A language that is only its tables, unshipped: no ordinal suffixes (ordinals
// stay words), no year pairs, no "and" inside numbers.
// A final that ends mid-sentence lets the next go on in lower case; one that
// ends a sentence, a paragraph or a quotation does not.
TEST(Formatter, ASentenceLeftOpenGoesOnInTheNextFinal) {
    const Formatter on("en", nullptr), off("en", nullptr, {.punctuation = false});
    for (auto [final, open] :
         std::initializer_list<std::pair<const char*, bool>>{{"Dear Anna,", true},
                                                             {"Two things:", true},
                                                             {"It rained;", true},
                                                             {"Wait\u2026", true},
                                                             {"Done.", false},
                                                             {"Really?", false},
                                                             {"Yes!", false},
                                                             {"Dear Anna,\n\n", false},
                                                             {"She said \"yes.\"", false},
                                                             {"", false}})
        EXPECT_EQ(on.leavesSentenceOpen(final), open) << final;
    EXPECT_FALSE(off.leavesSentenceOpen("dear anna,"));
    EXPECT_EQ(on.format("thank you", TextKind::final, true), "thank you.");
}

TEST(Formatter, ALanguageIsItsTables) {
    const NumberWord units[] = {{"five", 5}, {"nine", 9}}, teens[] = {{"nineteen", 19}},
                     tens[] = {{"twenty", 20}, {"ninety", 90}}, hundred[] = {{"hundred", 100}},
                     first[] = {{"first", 1}};
    LanguageRules r{};
    r.units = units, r.teens = teens, r.tens = tens, r.scales = hundred, r.unitOrdinals = first;
    const auto said = "the twenty first of nineteen ninety nine is five hundred and five";
    EXPECT_EQ(Formatter(r, nullptr).format(said, TextKind::final),
              "The twenty first of 19 99 is 500 and five.");
}

// A language's tables name the field that makes them unusable.
TEST(LanguageRules, RefuseBadTablesByName) {
    EXPECT_EQ(rulesProblem(englishRules()), "");
    const auto& en = englishRules();
    static const NumberWord twoUnits[] = {{"zero", 0}, {"two", 2}}, noSecond[] = {{"first", 1}};
    static const SpokenMark twice[] = {{"comma", ",", Attach::toPrevious},
                                       {"comma", ";", Attach::toPrevious}},
                            spaced[] = {{"new  line", "\n", Attach::toNeither}},
                            empty[] = {{"dash", "", Attach::toNeither}};
    static const OrdinalSuffix gap[] = {{10, 1, 1, "st"}, {10, 3, 9, "th"}};
    static const SpelledWord title[] = {{"mister", ""}};
    for (auto [change, field] :
         std::initializer_list<std::pair<void (*)(LanguageRules&), std::string_view>>{
             {[](LanguageRules&) {}, ""},
             {[](LanguageRules& r) { r.units = twoUnits; }, "units"},
             {[](LanguageRules& r) { r.unitOrdinals = noSecond; }, "unitOrdinals"},
             {[](LanguageRules& r) { r.ordinalSuffixes = gap; }, "ordinalSuffixes"},
             {[](LanguageRules& r) { r.yearPairFrom = 21; }, "yearPairFrom"},
             {[](LanguageRules& r) { r.marks = twice; }, "marks"},
             {[](LanguageRules& r) { r.marks = spaced; }, "marks"},
             {[](LanguageRules& r) { r.marks = empty; }, "marks"},
             {[](LanguageRules& r) { r.closingMark = ""; }, "closingMark"},
             {[](LanguageRules& r) { r.titles = title; }, "titles"},
         }) {
        LanguageRules r = en;
        change(r);
        EXPECT_EQ(rulesProblem(r).substr(0, field.size()), field) << rulesProblem(r);
        EXPECT_EQ(rulesProblem(r).empty(), field.empty()) << field;
    }
}

}  // namespace
}  // namespace scrivia::formatting
