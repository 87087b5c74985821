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
#include "platform/linux/speech/command_phrases.h"
#include "platform/linux/speech/mark_check.h"
#include "platform/linux/speech/model_files.h"
#include "platform/linux/speech/own_words.h"
#include "platform/platform.h"

struct ps_decoder_s;
struct ngram_model_s;

namespace scrivia::platform::linux_ {

// Owns a decoder loaded with one model. Used by one thread at a time (the
// recognition worker); holds no locks. It listens to one stretch of audio at
// a time; a pause in it ends an utterance there and then, so the utterance's
// last search is done while nothing is said, and speech after the pause
// opens the next one.
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
    // From start() until finish() or abandon(), pauses included.
    bool listening() const { return listening_; }

    // Listens to a new stretch of audio; false when PocketSphinx cannot.
    bool start();
    // Decodes more of the audio, all but its silence, ending the utterance at
    // a pause; false when PocketSphinx fails.
    bool feed(std::span<const std::int16_t> samples);
    // The samples of this stretch that reached the search.
    std::size_t samplesSearched() const { return samplesSearched_; }
    // The words of the utterances that pauses ended: no later result takes them back.
    const std::string& settled() const { return settled_; }
    // The settled words and the open utterance's so far, when the latter differ
    // from the last it reported (an utterance starts with none heard). The
    // search is asked only when it has heard more since it was last asked.
    std::optional<std::string> changedPartial();
    // How often changedPartial() asked the search.
    std::size_t partialSearches() const { return partialSearches_; }
    // Stops listening and gives all the stretch's words, without the marks a
    // check finds were not said, nor a person's entries the audio does not
    // bear out.
    std::string finish();
    // Stops listening, without a result.
    void abandon();

  private:
    UtteranceDecoder(ps_decoder_s* decoder, ngram_model_s* phrasesSet, PhrasedModel phrased,
                     std::vector<std::string> ownPhrases, formatting::HeardPhrases heard,
                     MarkCheckConfig check);
    bool open();
    // Ends the open utterance; its words.
    std::string close();
    std::string hypothesis() const;
    bool checksMarks() const { return phrasesSet_ != nullptr && check_.surePosterior > 0; }
    std::vector<HeardWord> heardWords() const;
    // The closed utterance's words once its doubted marks are checked.
    std::string checked(std::span<const HeardWord> words);
    // `text`, heard with a person's entry and the path `score`, or the
    // utterance heard again without any entry when that scores about as well.
    std::string withEntriesChecked(std::string text, std::int32_t score);

    ps_decoder_s* const decoder_;
    ngram_model_s* const phrasesSet_;  // the decoder's model with the phrases', or null
    // The set within it where selecting `withoutOwnWords_` leaves a
    // person's entries out, or null.
    ngram_model_s* const ownWordsSet_;
    const char* const withoutOwnWords_;
    const std::vector<std::string> ownPhrases_;  // each entry's heard words
    const formatting::HeardPhrases heard_;
    const MarkCheckConfig check_;
    // This utterance's search input, kept only for a check that decodes it again.
    std::vector<std::int16_t> utterance_;
    bool listening_ = false, inUtterance_ = false;
    bool heardSpeech_ = false;         // the gate passed speech in the open utterance
    bool searchedSinceAsked_ = false;  // the search heard more since changedPartial() asked
    std::string settled_;
    std::string lastPartial_;  // the open utterance's words as last reported
    std::size_t partialSearches_ = 0;
    audio::SilenceGate gate_;
    // The gate's output: held pre-roll and frames cut across buffers, in one run for the search.
    std::vector<std::int16_t> passed_;
    std::size_t samplesSearched_ = 0;
};

}  // namespace scrivia::platform::linux_
