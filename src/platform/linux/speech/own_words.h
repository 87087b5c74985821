// A person's own words and names made heard: the pronunciations the decoder
// is taught for them, and the phrases that make each entry likely.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

struct ps_decoder_s;

namespace scrivia::platform::linux_ {

// How much better, in PocketSphinx's path score, an utterance must be heard
// with a person's entries than without any for an entry in it to stand.
// Made likely everywhere, a short entry is now and then heard for ordinary
// words ("Redis" for "read a", "Spaatz" for "starts"), where the words
// without it score about as well; an entry said leaves them far behind.
// Chosen with bench/eval/own_words.py.
constexpr std::int32_t kOwnWordMargin = 400;

// A pronunciation to teach the decoder, in the model's phones.
struct TaughtWord {
    std::string word;    // as the decoder writes it: lower case, as the formatter folds it
    std::string phones;  // "K AH B ER N IY T S"
    bool alternate;      // from a spoken form: added even beside the dictionary's own
};

// How a word is said, or empty when that is not known.
using PhonesOf = std::function<std::string(const std::string& word)>;

struct OwnWordsPlan {
    std::vector<TaughtWord> taught;
    std::vector<std::string> phrases;  // each entry's heard words, in the file's order
};

// What hearing `entries` takes. An entry is heard as the folded words of its
// written form. A spoken form always gives them a pronunciation: its words'
// phones from the `dictionary`, else `letterToSound`, shared out over the
// written words in order (whole spoken words while there are enough, else
// the phones themselves). Without one, each word the dictionary lacks gets
// letterToSound's; a word neither knows is not taught.
OwnWordsPlan planOwnWords(std::span<const WordEntry> entries, const PhonesOf& dictionary,
                          const PhonesOf& letterToSound);

// Whether `words` (one space apart) hold one of `phrases` whole.
bool holdsAPhrase(std::string_view words, std::span<const std::string> phrases);

// Teaches the decoder `taught`: a word it lacks as itself; an alternate
// beside a word it has as "word(2)", "word(3)"... Before the search is built.
void teachOwnWords(ps_decoder_s* decoder, std::span<const TaughtWord> taught);

}  // namespace scrivia::platform::linux_
