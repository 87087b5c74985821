#include "platform/linux/speech/utterance_decoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <mutex>

#include "platform/linux/speech/command_phrases.h"
#include "platform/linux/speech/letter_to_sound.h"
#include "platform/linux/speech/own_words.h"
#include "platform/linux/speech/sphinx_text.h"

namespace scrivia::platform::linux_ {
namespace {

// Build switches for the benchmark's variants; both on in the shipped program.
constexpr bool kSilenceGate = SCRIVIA_SILENCE_GATE;
constexpr bool kSpokenPhrases = SCRIVIA_SPOKEN_PHRASES;

// PocketSphinx logs to stderr unless told otherwise, and scrivia's stderr must
// stay empty. Called before any other PocketSphinx function.
void silenceSphinxLogging() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

// What PocketSphinx's own search refuses: a language model without the end
// of a sentence, or none of whose first words the dictionary knows. Checked
// here because the phrases' model would make up for either.
bool fits(ps_decoder_t* decoder, ngram_model_t* model) {
    if (ngram_wid(model, "</s>") == ngram_unknown_wid(model)) return false;
    const auto words =
        std::int32_t(std::min<std::uint32_t>(ngram_model_get_counts(model)[0], 1000));
    for (std::int32_t id = 0; id < words; ++id) {
        const char* word = ngram_word(model, id);
        if (word != nullptr && word[0] != '<' && dictionaryKnows(decoder, word)) return true;
    }
    return false;
}

// What hearing `entries` takes, with flite's pronunciations in the model's phones.
OwnWordsPlan ownWordsPlan(ps_decoder_t* decoder, const ModelFiles& files,
                          std::span<const WordEntry> entries) {
    if (entries.empty()) return {};  // flite's lexicon costs memory and time
    const LetterToSound letterToSound(modelPhones(files.acousticModel));
    return planOwnWords(
        entries,
        [decoder](const std::string& word) {
            char* phones = ps_lookup_word(decoder, word.c_str());
            std::string said = phones ? phones : "";
            ckd_free(phones);
            return said;
        },
        [&letterToSound](const std::string& word) {
            const auto phones = letterToSound.phonesFor(word);
            return phones.size() == 1 ? phones[0] : std::string();
        });
}

// Words heard in turn, as one text.
std::string joined(std::string earlier, std::string_view later) {
    if (!earlier.empty() && !later.empty()) earlier += ' ';
    return earlier.append(later);
}

}  // namespace

std::unique_ptr<UtteranceDecoder> UtteranceDecoder::load(const ModelFiles& files,
                                                         const formatting::LanguageRules& rules,
                                                         MarkCheckConfig check,
                                                         std::span<const WordEntry> ownWords) {
    silenceSphinxLogging();
    // The language model is set after the decoder is made, so only one search
    // is ever built: building a second doubles the peak memory.
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", files.acousticModel.c_str(),
                                   "-dict", files.dictionary.c_str(), nullptr);
    if (config == nullptr) return nullptr;
    // The decoder keeps its own reference to the configuration.
    ps_decoder_t* decoder = ps_init(config);
    ngram_model_t* model = decoder == nullptr
                               ? nullptr
                               : ngram_model_read(config, files.languageModel.c_str(), NGRAM_AUTO,
                                                  ps_get_logmath(decoder));
    cmd_ln_free_r(config);
    if (model == nullptr || !fits(decoder, model)) {
        if (model != nullptr) ngram_model_free(model);
        if (decoder != nullptr) ps_free(decoder);
        return nullptr;
    }
    // Spoken marks are rare in a model's text: without help "comma" is heard
    // as "come up". A model without the phrases' words goes without them.
    formatting::HeardPhrases heard = formatting::heardPhrases(rules);
    PhraseGroup marks{kPhrasesModelName, {}, kCommandPhraseWeight, 0.5, kMarkAtStartShare};
    PhraseGroup words{kRareWordsModelName, {}, kCommandPhraseWeight, 0.5};
    if (kSpokenPhrases) marks.phrases = heard.marks, words.phrases = heard.words;
    teachPronunciations(decoder, rules.pronunciations);
    // A person's words are taught before the search is built, so it is built once.
    const OwnWordsPlan plan = ownWordsPlan(decoder, files, ownWords);
    teachOwnWords(decoder, plan.taught);
    const PhraseGroup phrases[] = {marks, words};
    const PhraseGroup entries{.name = kOwnWordsModelName,
                              .phrases = {plan.phrases.begin(), plan.phrases.end()},
                              .weight = kOwnWordWeight,
                              .mostShare = kOwnWordsMostShare,
                              .sharedAmong = kOwnWordsSharedAmong};
    ngram_model_t* own = model;
    const PhrasedModel phrased = withCommandPhrases(decoder, own, phrases, entries);
    model = phrased.model;
    const bool ready =
        ps_set_lm(decoder, "dictation", model) == 0 && ps_set_search(decoder, "dictation") == 0;
    // The search holds a reference of its own or has taken ours, by release.
    ngram_model_retain(model);
    if (ngram_model_free(model) > 1) ngram_model_free(model);
    if (!ready) {
        ps_free(decoder);
        return nullptr;
    }
    return std::unique_ptr<UtteranceDecoder>(new UtteranceDecoder(
        decoder, model == own ? nullptr : model, phrased,
        phrased.switchable ? plan.phrases : std::vector<std::string>{}, std::move(heard), check));
}

UtteranceDecoder::UtteranceDecoder(ps_decoder_s* decoder, ngram_model_s* phrasesSet,
                                   PhrasedModel phrased, std::vector<std::string> ownPhrases,
                                   formatting::HeardPhrases heard, MarkCheckConfig check)
    : decoder_(decoder),
      phrasesSet_(phrasesSet),
      ownWordsSet_(phrased.switchable),
      withoutOwnWords_(phrased.without),
      ownPhrases_(std::move(ownPhrases)),
      heard_(std::move(heard)),
      check_(check),
      gate_(cmd_ln_float_r(ps_get_config(decoder), "-samprate")) {}

UtteranceDecoder::~UtteranceDecoder() {
    abandon();
    ps_free(decoder_);
}

double UtteranceDecoder::sampleRate() const {
    return cmd_ln_float_r(ps_get_config(decoder_), "-samprate");
}

bool UtteranceDecoder::start() {
    abandon();
    gate_.reset();
    samplesSearched_ = 0;
    listening_ = open();
    return listening_;
}

bool UtteranceDecoder::open() {
    lastPartial_.clear();
    utterance_.clear();
    heardSpeech_ = false;
    inUtterance_ = ps_start_utt(decoder_) >= 0;
    return inUtterance_;
}

bool UtteranceDecoder::feed(std::span<const std::int16_t> samples) {
    passed_.clear();
    gate_.admit(samples, passed_);
    // Without the gate the search hears everything; the gate still finds the pauses.
    const auto heard = kSilenceGate ? std::span<const std::int16_t>(passed_) : samples;
    if (!heard.empty()) {
        if (!inUtterance_ && !open()) return false;
        heardSpeech_ = heardSpeech_ || !passed_.empty();
        samplesSearched_ += heard.size();
        searchedSinceAsked_ = true;
        if ((checksMarks() && check_.lookAgain) || ownWordsSet_ != nullptr)
            utterance_.insert(utterance_.end(), heard.begin(), heard.end());
        if (ps_process_raw(decoder_, heard.data(), heard.size(), FALSE, FALSE) < 0) return false;
    }
    if (inUtterance_ && heardSpeech_ && gate_.closed()) {
        settled_ = joined(std::move(settled_), close());
        searchedSinceAsked_ = false;  // nothing new until speech comes back
    }
    return true;
}

std::optional<std::string> UtteranceDecoder::changedPartial() {
    if (!searchedSinceAsked_) return std::nullopt;
    searchedSinceAsked_ = false;
    ++partialSearches_;
    std::string words = hypothesis();
    if (words == lastPartial_) return std::nullopt;
    lastPartial_ = words;
    return joined(settled_, words);
}

std::string UtteranceDecoder::finish() {
    std::string words = joined(std::move(settled_), inUtterance_ ? close() : "");
    abandon();
    return words;
}

void UtteranceDecoder::abandon() {
    if (inUtterance_) ps_end_utt(decoder_);
    listening_ = inUtterance_ = searchedSinceAsked_ = false;
    settled_.clear();
    lastPartial_.clear();
}

std::string UtteranceDecoder::close() {
    ps_end_utt(decoder_);
    inUtterance_ = false;
    lastPartial_.clear();
    // Asked once: each ask searches the utterance's lattice again.
    std::int32_t score = 0;
    const char* words = ps_get_hyp(decoder_, &score);
    std::string first = words == nullptr ? std::string() : cleanHypothesis(words);
    const bool heldAnEntry = holdsAPhrase(first, ownPhrases_);
    std::string text = checksMarks() ? checked(heardWords()) : std::move(first);
    return heldAnEntry ? withEntriesChecked(std::move(text), score) : text;
}

std::string UtteranceDecoder::withEntriesChecked(std::string text, std::int32_t score) {
    if (ngram_model_set_select(ownWordsSet_, withoutOwnWords_) == nullptr) return text;
    std::int32_t without = 0;
    bool heardAgain = ps_start_utt(decoder_) >= 0;
    if (heardAgain) {
        heardAgain =
            ps_process_raw(decoder_, utterance_.data(), utterance_.size(), FALSE, FALSE) >= 0;
        heardAgain =
            ps_end_utt(decoder_) >= 0 && heardAgain && ps_get_hyp(decoder_, &without) != nullptr;
    }
    std::string again = heardAgain ? hypothesis() : std::string();
    ngram_model_set_interp(ownWordsSet_, nullptr, nullptr);
    // When the search fails the second time, the first hearing is all there is.
    return !heardAgain || score - without >= kOwnWordMargin ? text : again;
}

std::string UtteranceDecoder::hypothesis() const {
    std::int32_t score = 0;
    const char* words = ps_get_hyp(decoder_, &score);
    return words == nullptr ? std::string() : cleanHypothesis(words);
}

std::vector<HeardWord> UtteranceDecoder::heardWords() const {
    std::vector<HeardWord> words;
    for (ps_seg_t* seg = ps_seg_iter(decoder_); seg != nullptr; seg = ps_seg_next(seg)) {
        std::string word = cleanHypothesis(ps_seg_word(seg));
        if (word.empty()) continue;
        std::int32_t acoustic = 0, language = 0, backoff = 0;
        const double posterior =
            logmath_exp(ps_get_logmath(decoder_), ps_seg_prob(seg, &acoustic, &language, &backoff));
        words.push_back({std::move(word), std::min(1.0, posterior)});
    }
    return words;
}

std::string UtteranceDecoder::checked(std::span<const HeardWord> words) {
    std::string text;
    for (const HeardWord& w : words) text += (text.empty() ? "" : " ") + w.word;
    if (!doubtsAMark(words, heard_.marks, check_.surePosterior)) return text;
    if (!check_.lookAgain) return withoutDoubtedMarks(words, heard_.marks, check_.surePosterior);
    std::int32_t first = 0, second = 0;
    ps_get_hyp(decoder_, &first);
    if (ngram_model_set_select(phrasesSet_, kOwnModelName) == nullptr) return text;
    std::string again;
    if (ps_start_utt(decoder_) >= 0) {
        ps_process_raw(decoder_, utterance_.data(), utterance_.size(), FALSE, FALSE);
        ps_end_utt(decoder_);
        again = hypothesis();
        ps_get_hyp(decoder_, &second);
    }
    ngram_model_set_interp(phrasesSet_, nullptr, nullptr);
    return first - second >= check_.scoreMargin ? text : again;
}

}  // namespace scrivia::platform::linux_
