#include <gtest/gtest.h>

#include "platform/linux/sphinx_text.h"

namespace scrivia::platform::linux_ {
namespace {

TEST(SphinxText, KeepsOnlySpokenWords) {
    EXPECT_EQ(cleanHypothesis("<s> and(2) mr <sil> john [NOISE] ++GARBAGE++ +BREATH+ </s>"),
              "and mr john");
    EXPECT_EQ(cleanHypothesis("  to(3)\tbe \n  "), "to be");
    EXPECT_EQ(cleanHypothesis("<s> <sil> </s>"), "");
    // Only a bracketed number is a pronunciation marker.
    EXPECT_EQ(cleanHypothesis("a(b) c() d(12)x e(7)"), "a(b) c() d(12)x e");
    EXPECT_TRUE(isFillerToken("[SPEECH]"));
    EXPECT_FALSE(isFillerToken("+"));
    EXPECT_FALSE(isFillerToken("don't"));
}

TEST(SphinxText, FormatsSentences) {
    EXPECT_EQ(formatSentence("he was not an ill disposed young man"),
              "He was not an ill disposed young man.");
    EXPECT_EQ(formatSentence(""), "");
    EXPECT_EQ(formatSentence("école"), "École.");
    EXPECT_EQ(formatSentence("done?"), "Done?");
}

}  // namespace
}  // namespace scrivia::platform::linux_
