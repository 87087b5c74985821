// Spoken punctuation ("comma", "question mark") made likely enough for the
// decoder to hear: a small language model of the phrases, interpolated with
// the model's own.
#pragma once

#include <string>
#include <string_view>

struct ps_decoder_s;
struct ngram_model_s;

namespace scrivia::platform::linux_ {

// A phrase a person says for a mark, and the pronunciation of a word of it
// that a dictionary may lack, in the English model's phones.
struct CommandPhrase {
    std::string_view words;
    std::string_view missingWord = {};
    std::string_view phones = {};
};

constexpr CommandPhrase englishCommandPhrases[] = {
    {"comma"},
    {"period"},
    {"colon"},
    {"semicolon", "semicolon", "S EH M IY K OW L AH N"},
    {"question mark"},
    {"exclamation mark"},
    {"exclamation point"},
    {"new line"},
    {"new paragraph"},
    {"open quote"},
    {"close quote"},
    {"open parenthesis"},
    {"close parenthesis"},
};

// The share of the probability the phrases get. Chosen with the evaluation
// benchmark: every phrase heard in dictation, the fewest heard in prose.
constexpr double kCommandPhraseWeight = 0.001;

// Whether the decoder's dictionary has a pronunciation for `word`.
bool dictionaryKnows(ps_decoder_s* decoder, const std::string& word);

// The phrases' model as ARPA text: each phrase equally likely, its words
// certain to follow one another.
std::string commandPhrasesArpa(std::string_view phrases);

// The decoder's language model `own` interpolated with one of the phrases
// whose words its dictionary knows (or learns from the table), giving the
// phrases `weight` of the probability. Takes the caller's reference to `own`
// and gives one to what it returns: `own` itself when no phrase applies or
// PocketSphinx refuses.
ngram_model_s* withCommandPhrases(ps_decoder_s* decoder, ngram_model_s* own, double weight);

}  // namespace scrivia::platform::linux_
