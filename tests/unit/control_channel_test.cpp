// Control lines: what counts as "stop", and what an endless line costs.
#include "app/control_channel.h"

#include <gtest/gtest.h>

namespace scrivia::app {
namespace {

bool stopsOn(std::string_view bytes) {
    ControlLineReader reader;
    return reader.feed(bytes);
}

TEST(ControlLines, StopInItsForms) {
    EXPECT_TRUE(stopsOn("stop\n"));
    EXPECT_TRUE(stopsOn("stop\r\n"));
    EXPECT_TRUE(stopsOn("  \tstop \t\n"));
    EXPECT_TRUE(stopsOn("hello\n\nstop\nignored"));
}

TEST(ControlLines, OtherLinesAreIgnored) {
    for (auto line : {"Stop\n", "STOP\n", "stop now\n", "stop.\n", "\n", "st op\n", "stop\xff\n"})
        EXPECT_FALSE(stopsOn(line)) << line;
}

TEST(ControlLines, AnUnterminatedLineIsNotCompleteYet) {
    ControlLineReader reader;
    EXPECT_FALSE(reader.feed("st"));
    EXPECT_FALSE(reader.feed("op"));
    EXPECT_TRUE(reader.feed("\n"));
}

TEST(ControlLines, AnOverlongLineIsSkippedWholeAndTheNextLineCounts) {
    ControlLineReader reader;
    const std::string chunk(ControlLineReader::maxKept, ' ');
    // Megabytes of one line, ending in what would read "stop" once trimmed.
    for (int i = 0; i < 256; ++i) EXPECT_FALSE(reader.feed(chunk));
    EXPECT_FALSE(reader.feed("stop\n"));
    EXPECT_TRUE(reader.feed("stop\n"));
}

TEST(ControlLines, ALineJustWithinTheBoundStillCounts) {
    ControlLineReader reader;
    std::string padded(ControlLineReader::maxKept - 4, ' ');
    EXPECT_TRUE(reader.feed(padded + "stop\n"));
}

}  // namespace
}  // namespace scrivia::app
