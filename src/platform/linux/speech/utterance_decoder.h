// One PocketSphinx decoder, decoding one utterance at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/silence_gate.h"
#include "formatting/heard_phrases.h"
#include "platform/linux/speech/mark_check.h"
#include "platform/linux/speech/model_files.h"
#include "platform/platform.h"

struct ps_decoder_s;
struct ngram_model_s;

namespace scrivia::platform::linux_ {

// Owns a decoder loaded with one model. Used by one thread at a time (the
// recognition worker); holds no locks.
class UtteranceDecoder {
  public:
    // The decoder for `files`, made ready to hear what `rules` act on and a
    // person's `ownWords`, or null when PocketSphinx cannot load them.
    static std::unique_ptr<UtteranceDecoder> load(const ModelFiles& files,
                                                  const formatting::LanguageRules& rules,
                                                  MarkCheckConfig check = {},
                                                  std::span<const WordEntry> ownWords = {});
    ~UtteranceDecoder();
    UtteranceDecoder(const UtteranceDecoder&) = delete;
    UtteranceDecoder& operator=(const UtteranceDecoder&) = delete;

    // The rate the model wants its samples at.
    double sampleRate() const;
    bool inUtterance() const { return inUtterance_; }

    // Opens an utterance; false when PocketSphinx cannot.
    bool start();
    // Decodes more of the open utterance, all but its silence; false when
    // PocketSphinx fails.
    bool feed(std::span<const std::int16_t> samples);
    // The samples of this utterance that reached the search.
    std::size_t samplesSearched() const { return samplesSearched_; }
    // The words heard so far, when they differ from the last this utterance
    // reported (an utterance starts with none heard).
    std::optional<std::string> changedPartial();
    // Closes the utterance and gives its final words, without the marks a
    // check finds were not said.
    std::string finish();
    // Closes the utterance, if one is open, without a result.
    void abandon();

  private:
    UtteranceDecoder(ps_decoder_s* decoder, ngram_model_s* phrasesSet,
                     formatting::HeardPhrases heard, MarkCheckConfig check);
    std::string hypothesis() const;
    bool checksMarks() const { return phrasesSet_ != nullptr && check_.surePosterior > 0; }
    std::vector<HeardWord> heardWords() const;
    // The closed utterance's words once its doubted marks are checked.
    std::string checked(std::span<const HeardWord> words);

    ps_decoder_s* const decoder_;
    ngram_model_s* const phrasesSet_;  // the decoder's model with the phrases', or null
    const formatting::HeardPhrases heard_;
    const MarkCheckConfig check_;
    std::vector<std::int16_t> utterance_;  // what this utterance's search was given, to look again
    bool inUtterance_ = false;
    std::string lastPartial_;
    audio::SilenceGate gate_;
    std::vector<std::int16_t> passed_;  // what the gate let through, about to be decoded
    std::size_t samplesSearched_ = 0;
};

}  // namespace scrivia::platform::linux_
