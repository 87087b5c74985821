// Spoken marks, and the words a language's rules act on, made likely enough
// for the decoder to hear: a small language model of the phrases,
// interpolated with the model's own.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formatting/language_rules.h"

struct ps_decoder_s;
struct ngram_model_s;

namespace scrivia::platform::linux_ {

// Its models' names in the sets withCommandPhrases() makes.
constexpr const char* kOwnModelName = "own";
constexpr const char* kPhrasesModelName = "phrases";
constexpr const char* kRareWordsModelName = "rare";
constexpr const char* kOwnWordsModelName = "words";

// The share of the probability each phrase gets, whatever their number, so
// that a new phrase takes nothing from the others: what each of the first 13
// had, chosen with the evaluation benchmark (every mark heard in dictation,
// the fewest heard in prose).
constexpr double kCommandPhraseWeight = 0.001 / 13;

// How much less likely a spoken mark of one word is as the first word of an
// utterance, where a person seldom says one: made as likely there, "comma"
// was heard for "unless" and "karma", and "colon" for "colin". A longer mark
// ("question mark") is not mistaken so, and its first word is an everyday one.
constexpr double kMarkAtStartShare = 0.03;

// A person's own entries are a model of their own, so that however many
// there are the marks keep their share: four times a mark's for each entry,
// at most 40 entries' worth. Within it each entry is as likely as one of 40,
// or of the list when longer: a long list shares the likelihood out, and a
// short one does not make its entries likelier than the check after an
// utterance is made for. The share moves little: the search raises each
// model's probability to its language weight, not the shares.
constexpr std::size_t kOwnWordsSharedAmong = 40;
constexpr double kOwnWordWeight = 4 * kCommandPhraseWeight;
constexpr double kOwnWordsMostShare = kOwnWordsSharedAmong * kOwnWordWeight;

// Phrases made likely together, as one model of the set.
struct PhraseGroup {
    const char* name;
    std::vector<std::string_view> phrases;
    double weight;       // each phrase's share of the probability
    double mostShare;    // the group's share at most
    double atStart = 1;  // a phrase's share first in an utterance, as a part of its share
    // Each phrase is as likely within the group's model as one of this many
    // at least: a short list does not make each of them likelier.
    std::size_t sharedAmong = 1;
};

// Whether the decoder's dictionary has a pronunciation for `word`.
bool dictionaryKnows(ps_decoder_s* decoder, const std::string& word);

// The phrases' model as ARPA text: each phrase equally likely, one of at
// least `sharedAmong` (one word long, `atStart` times that first in an
// utterance), its words certain to follow one another.
std::string commandPhrasesArpa(std::string_view phrases, double atStart = 1,
                               std::size_t sharedAmong = 1);

// Teaches the decoder each of `pronunciations` whose word its dictionary
// lacks. A model with other phones refuses them.
void teachPronunciations(ps_decoder_s* decoder,
                         std::span<const formatting::Pronunciation> pronunciations);

// A language model with phrases made likely, and where to do without some.
struct PhrasedModel {
    ngram_model_s* model;
    // The set within `model` where selecting `without` leaves out the aside
    // group alone; null when there is none.
    ngram_model_s* switchable;
    const char* without;
};

// The decoder's language model `own` interpolated with one model per group,
// and with `aside`, of their phrases whose words the dictionary knows (a
// group without any is left out). Takes the caller's reference to `own` and
// gives one to the model it returns: `own` itself when no phrase applies or
// PocketSphinx refuses.
PhrasedModel withCommandPhrases(ps_decoder_s* decoder, ngram_model_s* own,
                                std::span<const PhraseGroup> groups, const PhraseGroup& aside);

}  // namespace scrivia::platform::linux_
