// What the decoder is taught for a person's own words.
#include "platform/linux/speech/own_words.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

#include "formatting/language_rules.h"
#include "platform/linux/speech/utterance_decoder.h"
#include "support/recordings.h"

namespace scrivia::platform::linux_ {
namespace {

// Rows: the entry, then what is taught ("word=phones", "*" for an alternate)
// and the phrase heard. Letter-to-sound says words letter by letter.
TEST(OwnWords, TaughtFromTheSpellingOrAlwaysFromTheSpokenForm) {
    const std::map<std::string, std::string> dictionary{
        {"siobhan", "SH AH V AO N"}, {"shiv", "SH IH V"},  {"awn", "AO N"},
        {"dupont", "D UW P AA N T"}, {"post", "P OW S T"}, {"q", "K Y UW"}};
    const auto known = [&](const std::string& w) {
        return dictionary.contains(w) ? dictionary.at(w) : "";
    };
    const auto spelled = [](const std::string& w) {
        std::string phones;
        for (char c : w)
            phones +=
                c < 'a' || c > 'z' ? "?" : std::string(phones.empty() ? "" : " ") + char(c - 32);
        return phones.find('?') == phones.npos ? phones : "";
    };
    struct Row {
        WordEntry entry;
        std::string taught, phrase;
    };
    // clang-format off
    for (const Row& r : std::initializer_list<Row>{
        {{"Kubernetes", ""}, "kubernetes=K U B E R N E T E S", "kubernetes"},
        {{"Anouk DuPont", ""}, "anouk=A N O U K", "anouk dupont"},  // dupont is known
        {{"Siobhan", "shiv awn"}, "siobhan=SH IH V AO N*", "siobhan"},
        {{"PostgreSQL", "Post gres q"}, "postgresql=P OW S T G R E S K Y UW*", "postgresql"},
        {{"Anouk Dupont", "a nook do pont"}, "anouk=A N O O K* dupont=D O P O N T*", "anouk dupont"},
        {{"Mary Ann Lee", "marian lee"}, "mary=M A R* ann=I A N* lee=L E E*", "mary ann lee"},
        {{"C++", ""}, "", "c++"},
        {{"C++", "c plus plus"}, "c++=C P L U S P L U S*", "c++"},
        {{"Zoë", ""}, "zoe=Z O E", "zoe"},
        {{"X Y", "x"}, "x=X y=Y", "x y"},  // too few phones to share: as spelled
        {{"Node.js", "node dot j+s"}, "", "node.js"},  // a spoken word no one can say
    }) {
        // clang-format on
        const OwnWordsPlan plan = planOwnWords(std::span(&r.entry, 1), known, spelled);
        std::string taught;
        for (const TaughtWord& t : plan.taught)
            taught +=
                (taught.empty() ? "" : " ") + t.word + "=" + t.phones + (t.alternate ? "*" : "");
        EXPECT_EQ(taught, r.taught) << r.entry.written;
        EXPECT_EQ(plan.phrases, std::vector<std::string>{r.phrase}) << r.entry.written;
    }
}

// Made likely everywhere, a person's short entries are heard for ordinary
// words that sound like them ("Redis" for "read a") unless the utterance
// heard without them scores about as well; said, entries stand.
TEST(OwnWords, StandOnlyWhereTheyOutscoreOrdinaryWords) {
    const std::string model = "/usr/share/pocketsphinx/model/en-us";
    const std::vector<WordEntry> entries{{"Redis", "red iss"},
                                         {"Spaatz", ""},
                                         {"ChatGPT", "chat g p t"},
                                         {"Xiaoming Zhou", "shao ming joe"}};
    auto decoder = UtteranceDecoder::load(
        {model + "/en-us", model + "/en-us.lm.bin", model + "/cmudict-en-us.dict"},
        formatting::englishRules(), {}, entries);
    ASSERT_TRUE(decoder);
    const auto phrases = planOwnWords(
                             entries, [](auto&) { return ""; }, [](auto&) { return ""; })
                             .phrases;
    for (auto [voice, said, entry] : std::initializer_list<std::array<std::string, 3>>{
             {"slt", "the teacher read a story to the class before lunch", ""},
             {"awb", "the new manager starts work on the first of next month", ""},
             {"slt", "there is a problem with chat g p t again", "chatgpt"},
             {"slt", "please check what shao ming joe says about it", "xiaoming zhou"},
         }) {
        ASSERT_TRUE(decoder->start() && decoder->feed(testing::spokenBy(voice, said)));
        const std::string heard = decoder->finish();
        EXPECT_EQ(holdsAPhrase(heard, phrases), !entry.empty()) << heard;
        if (!entry.empty()) {
            EXPECT_TRUE(holdsAPhrase(heard, std::vector{entry})) << heard;
        }
    }
}

}  // namespace
}  // namespace scrivia::platform::linux_
