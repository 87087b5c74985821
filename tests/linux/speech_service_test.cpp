// The PocketSphinx speech service against Debian's model and recordings, on
// the program's own main loop.
#include "platform/linux/speech/speech_service.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>

#include "formatting/heard_phrases.h"
#include "platform/linux/speech/mark_check.h"
#include "platform/linux/speech/model_search.h"
#include "platform/linux/speech/sphinx_text.h"
#include "platform/linux/speech/utterance_decoder.h"
#include "platform/linux/system/run_loop.h"
#include "support/recordings.h"

namespace scrivia::platform::linux_ {
namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;

// Tasks named by a letter and what each said, in order: "~partial\n",
// "=final\n" or "!error\n"; `finished` has their letters in the order they
// ended. Task C cancels itself from its first delivery, with more likely queued.
struct Tasks {
    std::map<char, std::shared_ptr<RecognitionTask>> tasks;
    std::map<char, std::string> said;
    std::string finished;  // and "!" for a delivery off the main thread
    void open(char name, SpeechRecognizer& recognizer,
              std::shared_ptr<RecognitionRequest> request) {
        tasks[name] = recognizer.recognitionTask(
            request, [this, name, main = std::this_thread::get_id()](auto result, auto error) {
                if (std::this_thread::get_id() != main) finished += '!';
                if (name == 'C') tasks[name]->cancel();
                said[name] += error    ? "!" + error->description + "\n"
                              : result ? (result->isFinal ? "=" : "~") + result->text + "\n"
                                       : "?\n";
                if (error || (result && result->isFinal)) finished += name;
            });
    }
};

// Feeds 16 kHz `audio` in 2048-frame stereo buffers as a microphone would,
// each sample held `factor` times. Above 16 kHz the channels carry loud noise
// in opposite phases, so only their average is the recording.
void feed(RecognitionRequest& request, const Samples& audio, std::size_t factor) {
    std::minstd_rand random(7);
    std::vector<float> left, right;
    for (std::size_t i = 0; i < audio.size() * factor; ++i) {
        const float x = audio[i / factor] / 32768.0f,
                    n = factor > 1 ? 0.3f - 0.6f * float(random()) / float(random.max()) : 0;
        left.push_back(x + n), right.push_back(x - n);
    }
    for (std::size_t at = 0; at < left.size(); at += 2048) {
        const float* channels[2] = {&left[at], &right[at]};
        const auto frames = std::uint32_t(std::min<std::size_t>(2048, left.size() - at));
        request.append({channels, frames, 2, 16000.0 * double(factor)});
    }
    request.endAudio();
}

// What the decoder says, made into words for the formatter.
TEST(SphinxText, HypothesesBecomeWords) {
    for (auto [in, words] : std::initializer_list<std::array<const char*, 2>>{
             {"<s> and(2) mr <sil> john [NOISE] ++GARBAGE++ +BREATH+ </s>", "and mr john"},
             {"  to(3)\tbe \n + don't ", "to be + don't"},
             {"a(b) c() d(12)x e(7)", "a(b) c() d(12)x e"},  // only (digits)
             {"<s> <sil> </s>", ""}})
        EXPECT_EQ(cleanHypothesis(in), words) << in;
}

// Models found in search order, and a language served by a model of its own.
TEST(SpeechService, FindsModelsInSearchOrder) {
    const fs::path folder = "/tmp/scrivia-models-" + std::to_string(getpid());
    const std::string root = folder.string(), english = "/usr/share/pocketsphinx/model";
    // "0.3" is how a text mdef begins, enough for the catalogue.
    auto put = [&](const std::string& file, const char* content = "0.3\n") {
        fs::create_directories((folder / file).parent_path());
        std::ofstream(folder / file) << content;
    };
    for (std::string at :
         {"p1/en-GB", "p2/en_GB", "p2/de_DE", "d/scrivia/models/fr-FR", "h/scrivia/models/de_DE",
          "h/scrivia/models/fr_FR", "d/scrivia/models/en_US", "d/scrivia/models/zh_CN",
          "d/scrivia/models/zh_TW", "b/pt_BR", "b/it_IT"})
        for (const char* file : {"/acoustic-model/mdef", "/language-model.lm", "/dictionary.dict"})
            put(at + file);
    fs::remove(folder / "b/it_IT/language-model.lm");  // incomplete
    // Entries that name no folder, or none at all, are skipped.
    const std::string path = root + "/p1::" + root + "/none:" + root + "/p2";
    RunLoop loop;
    SpeechService all(
        loop, modelDirectories({path.c_str(), (root + "/h").c_str(), (root + "/d").c_str(), nullptr,
                                nullptr, root + "/b", english}));
    for (auto [asked, from] : std::initializer_list<std::pair<const char*, const char*>>{
             {"en-GB", "p1/en-GB"},                // SCRIVIA_MODEL_PATH's first folder first
             {"de_de", "p2/de_DE"},                // then its next, before the data home
             {"fr_FR", "h/scrivia/models/fr_FR"},  // the data home before the data folders
             {"en_US", "d/scrivia/models/en_US"},  // a data folder before the system's model
             {"pt_PT", "b/pt_BR"},                 // the only model of the language
             {"it_IT", "none"},
             {"xx_XX", "none"},
         }) {
        auto served = std::dynamic_pointer_cast<SphinxRecognizer>(all.recognizer(asked));
        EXPECT_EQ(
            served ? fs::path(served->files().dictionary).parent_path().lexically_relative(folder)
                   : "none",
            from)
            << asked;
    }
    EXPECT_EQ(all.supportedLocales(), (std::vector<std::string>{"de_DE", "en_GB", "en_US", "fr_FR",
                                                                "pt_BR", "zh_CN", "zh_TW"}));
    EXPECT_EQ(all.recognizer("en-gb"), all.recognizer("en_AU"));  // one recogniser, one load
    // Without the variables: the XDG defaults, and the built-in folder once.
    EXPECT_EQ(
        modelDirectories({.home = "/h", .builtInModels = "/usr/share/scrivia/models"}).models,
        (std::vector<std::string>{"/h/.local/share/scrivia/models",
                                  "/usr/local/share/scrivia/models", "/usr/share/scrivia/models"}));
    fs::remove_all(folder);
}

// A decoding story: audio queued before its task opens or while the model
// loads, requests decoded in order, partials only when changed, a task
// cancelled, and silence.
TEST(SpeechService, DecodesLikePocketSphinxInOrderUntilCancelled) {
    RunLoop loop;
    // With only the English model, English of any region is served by it.
    SpeechService service{loop, ModelDirectories{{}, "/usr/share/pocketsphinx/model"}};
    auto recognizer = service.recognizer("en_US");
    ASSERT_TRUE(recognizer);
    for (const char* asked : {"en_GB", "en", "en-IN"})
        EXPECT_EQ(service.recognizer(asked), recognizer) << asked;
    std::map<char, std::shared_ptr<RecognitionRequest>> req;
    for (char task : std::string("ABCD"))
        (req[task] = service.makeRequest())->settings.shouldReportPartialResults = task != 'A';
    req['A']->settings.addsPunctuation = false;
    const auto first = readWav(recordingPath("0880")), second = readWav(recordingPath("0870"));
    // B, stereo at 48 kHz, is complete before any task opens; the rest is fed
    // while the model loads. A needs no resampling: its text is PocketSphinx's own.
    feed(*req['B'], second, 3);
    Tasks got;
    for (char task : std::string("ABCD")) got.open(task, *recognizer, req[task]);
    feed(*req['A'], first, 1);
    feed(*req['C'], second, 3);
    feed(*req['D'], Samples(16000 * 2, 0), 3);
    loop.postAfter(240, [&] { loop.quit(1); });
    loop.scheduleRepeating(0.01, [&] { got.finished.size() < 3 ? void() : loop.quit(0); });
    EXPECT_EQ(loop.run(), 0) << "only " << got.finished << " finished";
    EXPECT_EQ(got.finished, "ABD");
    EXPECT_EQ(std::count(got.said['C'].begin(), got.said['C'].end(), '\n'), 1) << got.said['C'];
    const auto expected = referenceTexts({first, second});
    // No partials nor punctuation asked for; the words are PocketSphinx's own,
    // give or take what the spoken-mark phrases change.
    const std::string& a = got.said['A'];
    EXPECT_TRUE(std::regex_match(a, std::regex("=[a-z ]+\n"))) << a;
    EXPECT_GE(sharedInOrder(expected[0], a), 0.8) << a;
    EXPECT_EQ(got.said['D'], "=\n");
    const std::string& b =
        got.said['B'];  // formatted partials, each new, no closing mark; a sentence
    EXPECT_TRUE(std::regex_match(b, std::regex("(~[A-Z].*[^.]\n){2,}=[A-Z].*\\.\n"))) << b;
    EXPECT_FALSE(std::regex_search(b, std::regex("(^|\n)(~.*\n)\\2"))) << b;
    EXPECT_GE(sharedInOrder(expected[1], b.substr(b.rfind('=') + 1)), 0.8) << b;
}

// The marks' phrases in `text`, as the formatter reads them: "question+mark".
std::vector<std::string> marksIn(const std::string& text) {
    std::vector<HeardWord> words;
    for (const std::string& w : scrivia::testing::words(text)) words.push_back({w});
    std::vector<std::string> found;
    for (auto [first, end] :
         markSpans(words, formatting::heardPhrases(formatting::englishRules()).marks))
        found.push_back(words[first].word + (end - first > 1 ? "+" + words[end - 1].word : ""));
    return found;
}

// Marks spoken by flite voices are heard, old and new, first in an utterance
// too, and no others, also for a word like a mark said first; none is
// heard in Debian's read prose, where the phrases alone once heard "comma was"
// for "unless" and "dash" for "dashwood"; a long silence reaches no search,
// and the word after it is heard whole. In a microphone's buffers, a pause
// settles the words before it, which no partial shows while the room stays
// quiet (nor is the search asked), and which lead every later result, once.
TEST(SpeechService, HearsSpokenMarksButNoneUnsaidAndSettlesWordsAtAPause) {
    const std::string model = "/usr/share/pocketsphinx/model/en-us";
    auto decoder = UtteranceDecoder::load(
        {model + "/en-us", model + "/en-us.lm.bin", model + "/cmudict-en-us.dict"},
        formatting::englishRules());
    for (auto [voice, said] : std::initializer_list<std::array<std::string, 2>>{
             {"slt", "please buy bread comma milk and eggs question mark"},
             {"slt", "the handle is at sign news period"},
             {"awb", "the shop was closed semicolon we went home period"},
             {"kal16", "i thought ellipsis but i was wrong period"},
             {"awb", "the city open bracket which is very old close bracket has a new mayor"},
             // A mark is seldom said first, so a word like one is heard as itself there.
             {"awb", "karma was on her side that evening"},
             {"kal16", "colin went to the market on friday"},
             {"kal16", "comma which was a surprise"},
         }) {
        const Samples audio = spokenBy(voice, said);
        ASSERT_FALSE(audio.empty()) << said;
        ASSERT_TRUE(decoder && decoder->start() && decoder->feed(audio));
        EXPECT_EQ(marksIn(decoder->finish()), marksIn(said)) << said;
    }
    for (const char* id : {"0870", "0880", "0890", "0920", "0930"}) {
        ASSERT_TRUE(decoder->start() && decoder->feed(readWav(recordingPath(id))));
        EXPECT_EQ(marksIn(decoder->finish()), std::vector<std::string>{}) << id;
    }

    std::vector<std::string> partials;
    const auto play = [&](std::span<const std::int16_t> audio) {
        for (std::size_t at = 0; at < audio.size(); at += 683) {
            EXPECT_TRUE(
                decoder->feed(audio.subspan(at, std::min<std::size_t>(683, audio.size() - at))));
            if (auto words = decoder->changedPartial()) partials.push_back(*words);
        }
    };
    const auto first = readWav(recordingPath("0880")), second = readWav(recordingPath("0890"));
    const auto expected = referenceTexts({first, second});
    ASSERT_TRUE(decoder->start());
    std::minstd_rand random(3);
    Samples room(16000 * 20);  // a quiet room, about -60 dBFS
    for (auto& s : room) s = std::int16_t(int(random() % 121) - 60);
    play(room);
    EXPECT_EQ(decoder->samplesSearched(), 0u);
    play(first), play(std::span(room).first(12000));  // and the gate's hangover is over
    const std::string settled = decoder->settled();
    const auto seen = std::pair(partials.size(), decoder->partialSearches());
    play(std::span(room).first(12000));
    EXPECT_EQ(std::pair(partials.size(), decoder->partialSearches()), seen);
    play(second);
    std::vector<std::string> later(partials.begin() + std::ptrdiff_t(seen.first), partials.end());
    later.push_back(decoder->finish());
    EXPECT_TRUE(settled.starts_with("he was not")) << settled;
    for (const std::string& text : later)
        EXPECT_TRUE(text.starts_with(settled + " ") && text.find(settled, 1) == text.npos) << text;
    EXPECT_GE(sharedInOrder(expected[1], later.back().substr(settled.size())), 0.5) << later.back();
}

// What a language's tables make the recogniser hear: boosted marks once each,
// then titles and rare words not already heard; and which heard marks a check
// drops: the longest phrase first, doubted in any word.
TEST(HeardPhrases, ComeFromTheTablesAndDoubtedMarksGo) {
    using formatting::Attach;
    constexpr formatting::SpokenMark marks[] = {{"stop", ".", Attach::toPrevious},
                                                {"full stop", ".", Attach::toPrevious},
                                                {"stop", "!", Attach::toPrevious},
                                                {"hush", "", Attach::toNeither, {}, false}};
    constexpr formatting::SpelledWord titles[] = {{"sir", "Sir"}, {"stop", "Stop"}};
    constexpr std::string_view rare[] = {"u.k.", "sir", "hush"};
    formatting::LanguageRules rules;
    rules.marks = marks, rules.titles = titles, rules.rareWords = rare;
    const auto heard = formatting::heardPhrases(rules);
    EXPECT_EQ(heard.marks, (std::vector<std::string_view>{"stop", "full stop"}));
    EXPECT_EQ(heard.words, (std::vector<std::string_view>{"sir", "u.k.", "hush"}));
    for (const auto& [words, kept] :
         std::initializer_list<std::pair<std::vector<HeardWord>, std::string>>{
             {{{"full", .9}, {"stop", .4}, {"b", 0}}, "b"},  // doubted in its last word
             {{{"full", .4}, {"stop", .9}, {"b", 0}}, "b"},  // or its first
             {{{"full", .9}, {"stop", .6}, {"stop", .1}}, "full stop"},
             {{{"full", .1}, {"b", 0}}, "full b"},  // not a mark alone
         })
        EXPECT_EQ(withoutDoubtedMarks(words, heard.marks, 0.5), kept);
    EXPECT_EQ(MarkCheckConfig{.surePosterior = -1}.invalid(), "surePosterior must be >= 0");
}

}  // namespace
}  // namespace scrivia::platform::linux_
