#include <gtest/gtest.h>

#include "platform/linux/sphinx_text.h"

namespace scrivia::platform::linux_ {
namespace {

using Pairs = std::initializer_list<std::pair<const char*, const char*>>;

TEST(SphinxText, KeepsOnlySpokenWordsAndMakesThemASentence) {
    for (auto [in, out] : Pairs{
             {"<s> and(2) mr <sil> john [NOISE] ++GARBAGE++ +BREATH+ </s>", "and mr john"},
             {"  to(3)\tbe \n + don't ", "to be + don't"},
             {"a(b) c() d(12)x e(7)", "a(b) c() d(12)x e"},  // only a bracketed number is a marker
             {"<s> <sil> </s>", ""}})
        EXPECT_EQ(cleanHypothesis(in), out) << in;
    for (auto [in, out] : Pairs{{"he was not ill", "He was not ill."},
                                {"", ""},
                                {"école", "École."},
                                {"done?", "Done?"}})
        EXPECT_EQ(formatSentence(in), out) << in;
}

}  // namespace
}  // namespace scrivia::platform::linux_
