// Command-line options: values, clamping and what is ignored.
#include <gtest/gtest.h>

#include <cmath>

#include "app/settings.h"

namespace scrivia::app {
namespace {

Settings parse(std::initializer_list<std::string> args) {
    Settings settings;
    settings.localeId = "fr-FR";
    settings.args.assign(args.begin(), args.end());
    parseOptions(settings);
    EXPECT_TRUE(settings.args.empty());
    return settings;
}

TEST(Options, DefaultsWithoutArguments) {
    auto s = parse({});
    EXPECT_EQ(s.localeId, "fr-FR");
    EXPECT_EQ(s.pauseSeconds, 1.2);
    EXPECT_TRUE(s.punctuation);
    EXPECT_FALSE(s.listOnly);
}

TEST(Options, PauseIsClampedIntoItsRange) {
    EXPECT_EQ(parse({"--pause", "0.1"}).pauseSeconds, 0.4);
    EXPECT_EQ(parse({"--pause", "12"}).pauseSeconds, 5.0);
    EXPECT_EQ(parse({"--pause", "2.5"}).pauseSeconds, 2.5);
    EXPECT_EQ(parse({"--pause", "nan"}).pauseSeconds, 0.4);
    EXPECT_EQ(parse({"--pause", "inf"}).pauseSeconds, 5.0);
    EXPECT_EQ(parse({"--pause", "-inf"}).pauseSeconds, 0.4);
    EXPECT_EQ(parse({"--pause", "2", "--pause", "3"}).pauseSeconds, 3.0);
}

TEST(Options, PauseNumberForms) {
    double v = 0;
    for (const char* valid : {"0.8", "2", "+3", ".5", "1e0", "0x1p-1"}) {
        EXPECT_TRUE(parsePauseValue(valid, v)) << valid;
    }
    for (const char* invalid : {"1,5", "0.8s", " 1", "\t1", "", "abc", "1 ", "--list"}) {
        EXPECT_FALSE(parsePauseValue(invalid, v)) << '"' << invalid << '"';
    }
}

TEST(Options, InvalidPauseIsConsumedAndTheNextArgumentIsAnOptionAgain) {
    auto s = parse({"--pause", "1,5", "--no-punctuation"});
    EXPECT_EQ(s.pauseSeconds, 1.2);
    EXPECT_FALSE(s.punctuation);
    auto t = parse({"--pause", "--list"});
    EXPECT_FALSE(t.listOnly);
    EXPECT_EQ(t.pauseSeconds, 1.2);
}

TEST(Options, ValueOptionsTakeTheNextArgumentWhateverItIs) {
    auto s = parse({"--locale", "--list"});
    EXPECT_EQ(s.localeId, "--list");
    EXPECT_FALSE(s.listOnly);
    EXPECT_EQ(parse({"--locale", "fr_FR"}).localeId, "fr_FR") << "not dashed";
}

TEST(Options, MissingValueChangesNothing) {
    EXPECT_EQ(parse({"--pause"}).pauseSeconds, 1.2);
    EXPECT_EQ(parse({"--locale"}).localeId, "fr-FR");
}

TEST(Options, OnlyExactSpellingsAreOptions) {
    auto s = parse({"--LIST", "--pause=2", "-l", "word", "--No-Punctuation", "--locale=de_DE"});
    EXPECT_FALSE(s.listOnly);
    EXPECT_EQ(s.pauseSeconds, 1.2);
    EXPECT_TRUE(s.punctuation);
    EXPECT_EQ(s.localeId, "fr-FR");
    EXPECT_TRUE(parse({"x", "--list", "y"}).listOnly);
}

TEST(Options, DashedIdentifierReplacesEveryUnderscore) {
    EXPECT_EQ(dashedIdentifier("fr_FR"), "fr-FR");
    EXPECT_EQ(dashedIdentifier("zh_Hant_TW"), "zh-Hant-TW");
    EXPECT_EQ(dashedIdentifier("en-US"), "en-US");
}

}  // namespace
}  // namespace scrivia::app
