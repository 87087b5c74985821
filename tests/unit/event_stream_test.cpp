// The wire format of events and the one writer of standard output.
#include "events/event_stream.h"

#include <gtest/gtest.h>

#include <thread>

#include "events/json_line.h"
#include "events/text.h"
#include "sim/sim_platform.h"

namespace scrivia::events {
namespace {

using nlohmann::json;

TEST(JsonLine, IsOneCompactLineThatParsesBack) {
    EXPECT_EQ(jsonLine(endEvent()), "{\"type\":\"end\"}\n");
    const std::string text = "two\nlines \"quoted\" back\\slash\ttab\x01";
    auto line = jsonLine(finalEvent(text));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->find('\n'), line->size() - 1) << "one line feed, at the end";
    EXPECT_EQ(json::parse(*line), (json{{"type", "final"}, {"text", text}}));
}

TEST(JsonLine, EscapesEverySolidusAndKeepsUtf8AsIs) {
    auto line = jsonLine(errorEvent("engine", "Le micro n'a pas démarré : a/b//c"));
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("a\\/b\\/\\/c"), std::string::npos);
    EXPECT_NE(line->find("démarré"), std::string::npos) << "accented letters as UTF-8 bytes";
    EXPECT_EQ(line->find("\\u"), std::string::npos);
    EXPECT_EQ(json::parse(*line)["message"], "Le micro n'a pas démarré : a/b//c");
}

TEST(JsonLine, NumbersAndArraysRoundTrip) {
    EXPECT_EQ(json::parse(*jsonLine(levelEvent(0.42)))["value"].get<double>(), 0.42);
    auto locales = json::parse(*jsonLine(localesEvent({"de-DE", "en-US"}, {})));
    EXPECT_EQ(
        locales,
        (json{{"type", "locales"}, {"locales", {"de-DE", "en-US"}}, {"onDevice", json::array()}}));
}

TEST(JsonLine, InvalidUtf8IsDropped) {
    EXPECT_FALSE(jsonLine(partialEvent("bad \xff byte")));
}

TEST(Trimming, RemovesSeparatorsAndLineEndsAtBothEndsOnly) {
    EXPECT_EQ(trimmed("  \t\r\nhello  world\n "), "hello  world");
    EXPECT_EQ(trimmed("\u00a0\u2028\u3000\u0085text\u2029\u000b\u000c"), "text");
    EXPECT_EQ(trimmed("in\nside"), "in\nside");
    EXPECT_EQ(trimmed(" \t\n\u2003 "), "");
    EXPECT_EQ(trimmed(""), "");
    // A zero-width space is a format character, not a separator: it stays.
    EXPECT_EQ(trimmed("\u200bword"), "\u200bword");
    EXPECT_EQ(trimmed(" caf\u00e9 "), "caf\u00e9");
}

TEST(Trimming, InvalidBytesAreOrdinaryCharacters) {
    EXPECT_EQ(trimmed(" \xff stop \xfe "), "\xff stop \xfe");
    EXPECT_EQ(trimmed("\xe2\x80 "), "\xe2\x80");
}

TEST(CanonicalEquality, ComposedAndDecomposedFormsAreEqual) {
    EXPECT_TRUE(canonicallyEqual("caf\u00e9", "cafe\u0301"));
    EXPECT_TRUE(canonicallyEqual("same", "same"));
    EXPECT_FALSE(canonicallyEqual("cafe", "caf\u00e9"));
    EXPECT_FALSE(canonicallyEqual("text", "text "));
    EXPECT_FALSE(canonicallyEqual("\xff", "\xfe"));
}

class StreamTest : public ::testing::Test {
  protected:
    sim::SimProcess process;
    EventStream stream{process.standardOutput(), process};
};

TEST_F(StreamTest, FailWritesErrorThenEndAndExitsWithOne) {
    stream.emit(partialEvent("x"));
    EXPECT_THROW(stream.fail("no-mic", "Aucun micro utilisable"), sim::ExitCalled);
    EXPECT_EQ(process.exitStatus, 1);
    auto lines = process.outputLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json::parse(lines[1]),
              (json{{"type", "error"}, {"code", "no-mic"}, {"message", "Aucun micro utilisable"}}));
    EXPECT_EQ(json::parse(lines[2]), (json{{"type", "end"}}));
}

TEST_F(StreamTest, NothingFollowsEnd) {
    EXPECT_THROW(stream.end(0), sim::ExitCalled);
    stream.emit(levelEvent(0.5));
    EXPECT_EQ(process.outputLines(), std::vector<std::string>{"{\"type\":\"end\"}"});
}

TEST_F(StreamTest, LinesFromTwoThreadsNeverMix) {
    const std::string text(3000, 'a');  // longer than one atomic pipe write
    auto writer = [&] {
        for (int i = 0; i < 200; ++i) stream.emit(partialEvent(text));
    };
    std::thread other(writer);
    writer();
    other.join();
    auto lines = process.outputLines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines) EXPECT_EQ(json::parse(line)["text"], text);
}

}  // namespace
}  // namespace scrivia::events
