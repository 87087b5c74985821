// Pronunciations from flite's lexicon and letter-to-sound rules, in the phones
// of Debian's English model.
#include "platform/linux/speech/letter_to_sound.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace scrivia::platform::linux_ {
namespace {

const std::string kModel = "/usr/share/pocketsphinx/model/en-us";

// The phones of the binary mdef are those the dictionary's words use; a text
// mdef's base phones, fillers left out; nothing from what is no mdef.
TEST(LetterToSound, ReadsTheModelsPhones) {
    PhoneSet dictionary;
    std::ifstream file(kModel + "/cmudict-en-us.dict");
    for (std::string line, phone; std::getline(file, line);) {
        std::istringstream fields(line);
        for (fields >> phone; fields >> phone;) dictionary.insert(phone);
    }
    EXPECT_EQ(dictionary.size(), 39u);
    EXPECT_EQ(modelPhones(kModel + "/en-us"), dictionary);
    const std::string folder = ::testing::TempDir() + "/mdef-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    for (auto [text, want] : std::initializer_list<std::pair<const char*, PhoneSet>>{
             {"0.3\n3 n_base\n# base lft rt p\nSIL - - - filler 0 0 1 2 N\n"
              "AA - - - n/a 1 3 4 5 N\n+NSN+ - - - filler 2 6 7 8 N\nZH - - - n/a 3 9 9 9 N\n",
              {"AA"}},
             {"0.3\nAA - - - n/a 1 3 4 5 N\n", {}},
             {"BMDF\1\0\0\0", {}}}) {
        std::ofstream(folder + "/mdef") << text;
        EXPECT_EQ(modelPhones(folder), want) << text;
    }
    std::filesystem::remove_all(folder);
}

// One row per rule, each word's pronunciation after "|"; flite says nothing on stderr.
TEST(LetterToSound, SaysWordsInTheModelsPhones) {
    const PhoneSet phones = modelPhones(kModel + "/en-us");
    const LetterToSound letterToSound(phones);
    const int stderrCopy = dup(2);
    FILE* captured = std::tmpfile();
    dup2(fileno(captured), 2);
    for (auto [words, want] : std::initializer_list<std::array<const char*, 2>>{
             {"hello", "|HH AH L OW"},                    // the lexicon's; ax is AH, no stress
             {"KuberNetes", "|K AH B ER N IY T S"},       // letter-to-sound only, lower-cased
             {"Siobhan", "|SH AW B AA N"},                // as spelled, not as said
             {"Anouk  Dupont", "|AE N K|D UW P AA N T"},  // a word each
             {"x11 mp3", "|EH K S IH L EH V AH N|EH M P IY TH R IY"},  // digits; spelled letters
             {"007 wi-fi 19-20",
              "|Z IH R OW Z IH R OW S EH V AH N|W IH F IY|N AY N T IY N T W EH N T IY"},
             {"José", "|HH OW Z EY"},        // accents folded
             {"c++ node.js Ørsted", "|||"},  // symbols and other letters refused
         }) {
        std::string got;
        for (const std::string& word : letterToSound.phonesFor(words)) {
            got += "|" + word;
            std::istringstream each(word);
            for (std::string phone; each >> phone;) EXPECT_TRUE(phones.contains(phone)) << phone;
        }
        EXPECT_EQ(got, want) << words;
    }
    dup2(stderrCopy, 2);
    close(stderrCopy);
    EXPECT_EQ(std::ftell(captured), 0);
    std::fclose(captured);
}

}  // namespace
}  // namespace scrivia::platform::linux_
