// The session's rules as plain values: segment verdicts, the error window,
// the level meter, the owed segments and the choice of a model for a locale.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <vector>

#include "audio/level_meter.h"
#include "audio/silence_gate.h"
#include "formatting/formatter.h"
#include "platform/locale_identifier.h"
#include "session/error_window.h"
#include "session/owed_segments.h"
#include "session/segment_rules.h"

namespace scrivia {
namespace {

using audio::LevelMeter;
using audio::LevelMeterConfig;
using session::SegmentRulesConfig;
using session::SegmentVerdict;

TEST(SegmentRules, Verdicts) {
    struct Row {
        double now, lastChange, start;
        bool text;
        SegmentVerdict want;
    };
    for (const Row& r : std::initializer_list<Row>{
             {1.1, 0.0, 0.0, true, SegmentVerdict::keep},
             {1.2, 0.0, 0.0, true, SegmentVerdict::close},   // the pause, reached exactly
             {30.0, 0.0, 0.0, false, SegmentVerdict::keep},  // silence has no pause
             {45.0, 44.0, 0.0, true, SegmentVerdict::keep},
             {45.1, 44.5, 0.0, true, SegmentVerdict::close},  // the cap, not the pause
             {45.0, 0.0, 0.0, false, SegmentVerdict::keep},   // the cap is exceeded, not reached
             {45.1, 0.0, 0.0, false, SegmentVerdict::renew},
         })
        EXPECT_EQ(session::judgeSegment({}, r.now, r.lastChange, r.start, r.text), r.want)
            << r.now << " " << r.lastChange << " " << r.text;
    EXPECT_EQ(session::judgeSegment({.pauseSeconds = 0.4}, 0.4, 0.0, 0.0, true),
              SegmentVerdict::close);
}

// Each config refuses its bad values and names the field; its defaults pass.
TEST(Configs, RefuseBadValuesByName) {
    using Check = std::function<std::optional<std::string>()>;
    const auto meter = [](LevelMeterConfig c) -> Check { return [c] { return c.invalid(); }; };
    const auto rules = [](SegmentRulesConfig c) -> Check { return [c] { return c.invalid(); }; };
    const auto gate = [](audio::SilenceGateConfig c) -> Check {
        return [c] { return c.invalid(); };
    };
    static const std::string blank[] = {"GitHub", " "}, twoLines[] = {"a\nb"},
                             broken[] = {"caf\xc3"};
    const auto words = [](std::span<const std::string> w) -> Check {
        return [w] { return formatting::FormatterConfig{.ownWords = w}.invalid(); };
    };
    // clang-format off
    for (const auto& [check, field] : std::initializer_list<std::pair<Check, std::string>>{
             {meter({}), ""}, {rules({}), ""}, {gate({}), ""},
             {words({}), ""}, {words(blank), "ownWords"}, {words(twoLines), "ownWords"},
             {words(broken), "ownWords"},
             {gate({.frameSeconds = 0}), "frameSeconds"},
             {gate({.marginDb = -1}), "marginDb"},
             {gate({.quietestDb = -INFINITY}), "quietestDb"},
             {gate({.floorRiseDb = NAN}), "floorRiseDb"},
             {gate({.preRollSeconds = -0.1}), "preRollSeconds"},
             {gate({.hangoverSeconds = INFINITY}), "hangoverSeconds"},
             {meter({.intervalSeconds = -0.1}), "intervalSeconds"},
             {meter({.intervalSeconds = NAN}), "intervalSeconds"},
             {meter({.gain = 0}), "gain"},
             {meter({.gain = INFINITY}), "gain"},
             {rules({.pauseSeconds = 0}), "pauseSeconds"},
             {rules({.pauseSeconds = NAN}), "pauseSeconds"},
             {rules({.pauseSeconds = 2, .maxAgeSeconds = 1}), "maxAgeSeconds"},
             {rules({.maxAgeSeconds = INFINITY}), "maxAgeSeconds"},
         }) {
        // clang-format on
        const auto why = check();
        EXPECT_EQ(why.value_or("").substr(0, field.size()), field) << why.value_or("usable");
        EXPECT_EQ(why.has_value(), !field.empty()) << field;
    }
    EXPECT_THROW(LevelMeter({.gain = -1}), std::invalid_argument);
    EXPECT_THROW(audio::SilenceGate(16000, {.frameSeconds = 0}), std::invalid_argument);
    EXPECT_THROW(audio::SilenceGate(0), std::invalid_argument);
}

TEST(ErrorWindow, TheFifthErrorWithinSixSecondsReachesTheLimit) {
    // When errors come, and whether the last reaches the limit.
    for (auto [at, want] : std::initializer_list<std::pair<std::vector<double>, bool>>{
             {{0, 1, 2, 3}, false},
             {{0, 1, 2, 3, 5.9}, true},
             {{0, 1, 2, 3, 6}, false},  // the first is six seconds old: forgotten
             {{0, 0, 0, 0, 0}, true},
         }) {
        session::ErrorWindow window;
        bool reached = false;
        for (double t : at) reached = window.record(t);
        EXPECT_EQ(reached, want) << at.back();
    }
}

TEST(LevelMeter, WorkedValues) {
    std::vector<float> sine(2048);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = 0.05f * std::sin(2 * float(M_PI) * 440 * float(i) / 48000);
    const auto steady = [](float value) { return std::vector<float>(2048, value); };
    for (auto [samples, want] : std::initializer_list<std::pair<std::vector<float>, double>>{
             {steady(0), 0.0},
             {steady(0.025f), 0.3},
             {steady(-0.05f), 0.6},
             {steady(0.5f), 1.0},  // clipped at full scale
             {sine, 0.42},         // the root mean square, not the peak
             {{NAN, 0.0f}, 1.0},
         }) {
        audio::LevelMeter meter;
        auto level = meter.measure(0, samples.data(), std::uint32_t(samples.size()));
        ASSERT_TRUE(level.has_value());
        EXPECT_DOUBLE_EQ(*level, want);
    }
}

TEST(LevelMeter, AtMostOneLevelPerIntervalAndOnlyFloatBuffersCount) {
    const float loud[] = {0.5f};
    audio::LevelMeter meter;
    EXPECT_TRUE(meter.measure(0.0, loud, 1));
    EXPECT_FALSE(meter.measure(0.12, loud, 1));    // exactly the interval is too soon
    EXPECT_FALSE(meter.measure(0.2, nullptr, 1));  // no floats: the interval goes on
    EXPECT_TRUE(meter.measure(0.25, loud, 1));
    EXPECT_FALSE(meter.measure(0.4, loud, 0));  // empty: no level, but the interval restarts
    EXPECT_FALSE(meter.measure(0.5, loud, 1));
    EXPECT_TRUE(meter.measure(0.53, loud, 1));
}

TEST(OwedSegments, SettledInSpokenOrderEachByItsOwnIdentity) {
    session::OwedSegments owed;
    auto a = std::make_shared<int>(1), b = std::make_shared<int>(1), c = std::make_shared<int>(1);
    owed.owe(a, "one");
    owed.owe(b, "two");
    owed.owe(c, "two");   // equal text, another segment
    owed.owe(a, "one!");  // new text keeps its place
    EXPECT_TRUE(owed.update(b.get(), "two?"));
    EXPECT_FALSE(owed.update(nullptr, "none"));
    EXPECT_EQ(owed.settle(b.get()), "two?");
    EXPECT_FALSE(owed.settle(b.get()));
    EXPECT_TRUE(owed.contains(c.get()));
    EXPECT_EQ(owed.settleAll(), (std::vector<std::string>{"one!", "two"}));
    EXPECT_TRUE(owed.empty());
}

// A host asks for any spelling of any locale; the model that serves it must
// be the one a person of that language and region would pick.
TEST(LocaleMatch, SameIdentifierElseSameRegionElseFirstOfTheLanguage) {
    const std::vector<std::string> installed{"de_DE", "en-GB", "en_US", "pt_BR", "zh_CN", "zh_TW"};
    for (auto [wanted, served] : std::initializer_list<std::pair<const char*, const char*>>{
             {"en_US", "en_US"},
             {"EN-us", "en_US"},       // case and separator do not matter
             {"en_GB", "en-GB"},       // an installed dashed folder
             {"en", "en-GB"},          // the first of the language in code point order
             {"en_IN", "en-GB"},       // no model of the region
             {"zh_Hant_TW", "zh_TW"},  // the region after a script
             {"pt_PT", "pt_BR"},
             {"de_AT_1901", "de_DE"},
             {"e", "none"},  // a prefix of a language is not the language
             {"fr_FR", "none"},
             {"", "none"},
             {"en_GB.UTF-8@euro", "en-GB"},  // code set and modifier are no part of it
         }) {
        const auto match = platform::bestMatch(wanted, installed);
        EXPECT_EQ(match ? installed[*match] : "none", served) << wanted;
    }
    // name | language | region, from each spelling.
    for (auto [identifier, want] : std::initializer_list<std::pair<const char*, const char*>>{
             {"en_US.UTF-8@euro", "en_US|en|US"},
             {"zh-Hant-TW", "zh-Hant-TW|zh|TW"},
             {"es_419", "es_419|es|419"},
             {"fr", "fr|fr|"},
             {"C.UTF-8", "C|C|"},
         }) {
        const auto parts = platform::localeParts(identifier);
        EXPECT_EQ(std::string(parts.name) + "|" + std::string(parts.language) + "|" +
                      std::string(parts.region),
                  want);
    }
}

}  // namespace
}  // namespace scrivia
