// The PocketSphinx speech service against Debian's model and recordings, on
// the program's own main loop.
#include "platform/linux/speech_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "platform/linux/model_search.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/sphinx_text.h"
#include "support/recordings.h"

namespace scrivia::platform::linux_ {
namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;

using Pairs = std::initializer_list<std::pair<const char*, const char*>>;

// Tasks named by a letter: what each delivered, and the order they finished
// in. Task C cancels itself from its first delivery, with more likely queued.
struct Tasks {
    std::map<char, std::shared_ptr<RecognitionTask>> tasks;
    std::map<char, std::vector<RecognitionResult>> results;
    std::map<char, std::string> errors;
    std::string finished;
    bool offMain = false;
    void open(char name, SpeechRecognizer& recognizer,
              std::shared_ptr<RecognitionRequest> request) {
        tasks[name] = recognizer.recognitionTask(
            request, [this, name, main = std::this_thread::get_id()](auto result, auto error) {
                offMain |= std::this_thread::get_id() != main;
                if (name == 'C') tasks[name]->cancel();
                if (result) results[name].push_back(*result);
                if (error) errors[name] += error->description;
                if (error || (result && result->isFinal)) finished += name;
            });
    }
};

// Feeds 16 kHz `audio` in 2048-frame buffers as a microphone would: at 48 kHz
// in stereo, each sample held, or at 16 kHz mono. The stereo channels carry
// loud noise in opposite phases, so only their average is the recording.
void feed(RecognitionRequest& request, const Samples& audio, bool stereo) {
    const std::size_t factor = stereo ? 3 : 1;
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> left, right;
    for (std::size_t i = 0; i < audio.size() * factor; ++i) {
        const float x = audio[i / factor] / 32768.0f, n = stereo ? noise(random) : 0;
        left.push_back(x + n), right.push_back(x - n);
    }
    for (std::size_t at = 0; at < left.size(); at += 2048) {
        const float* channels[2] = {&left[at], &right[at]};
        auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(2048, left.size() - at));
        request.append({channels, frames, stereo ? 2u : 1u, stereo ? 48000.0 : 16000.0});
    }
    request.endAudio();
}

// Models found in search order, a language served by a model of its own,
// unusable models said to be so, then a decoding story: audio queued before
// its task opens or while the model loads, requests decoded in order,
// partials only when changed, a task cancelled, and silence.
TEST(SpeechService, FindsModelsInOrderAndDecodesLikePocketSphinxInOrderUntilCancelled) {
    const fs::path folder =
        fs::temp_directory_path() / ("scrivia-models-" + std::to_string(getpid()));
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
    put("file");
    fs::remove(folder / "b/it_IT/language-model.lm");  // incomplete
    // yy_YY: Debian's acoustic model and dictionary, a language model PocketSphinx refuses.
    put("b/yy-YY/language-model.lm.bin", "garbage");
    fs::create_symlink(english + "/en-us/en-us", folder / "b/yy-YY/acoustic-model");
    fs::create_symlink(english + "/en-us/cmudict-en-us.dict", folder / "b/yy-YY/dictionary.dict");
    // Entries that are no folder, or none at all, are skipped.
    const std::string path = root + "/p1::" + root + "/file:" + root + "/none:" + root + "/p2";
    RunLoop loop;
    SpeechService all(
        loop, modelDirectories({path.c_str(), (root + "/h").c_str(), (root + "/d").c_str(), nullptr,
                                nullptr, root + "/b", english}));
    for (auto [asked, from] : Pairs{
             {"en-GB", "p1/en-GB"},                     // SCRIVIA_MODEL_PATH's first folder first
             {"de_de", "p2/de_DE"},                     // then its next, before the data home
             {"fr_FR", "h/scrivia/models/fr_FR"},       // the data home before the data folders
             {"en_US", "d/scrivia/models/en_US"},       // a data folder before the system's model
             {"pt_PT", "b/pt_BR"},                      // the only model of the language
             {"zh_Hant_TW", "d/scrivia/models/zh_TW"},  // same region before lowest code point
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
    EXPECT_EQ(all.supportedLocales(),
              (std::vector<std::string>{"de_DE", "en_GB", "en_US", "fr_FR", "pt_BR", "yy_YY",
                                        "zh_CN", "zh_TW"}));
    EXPECT_EQ(all.recognizer("en-gb"), all.recognizer("en_AU"));  // one recogniser, one load
    // Without the variables: the XDG defaults, and the built-in folder once.
    EXPECT_EQ(
        modelDirectories({.home = "/h", .builtInModels = "/usr/share/scrivia/models"}).models,
        (std::vector<std::string>{"/h/.local/share/scrivia/models",
                                  "/usr/local/share/scrivia/models", "/usr/share/scrivia/models"}));

    // With only the English model, English of any region is served by it.
    SpeechService service{loop, ModelDirectories{{}, english}};
    auto recognizer = service.recognizer("en_US");
    for (const char* asked : {"en_GB", "en", "en-IN"})
        EXPECT_EQ(service.recognizer(asked), recognizer) << asked;
    EXPECT_EQ(service.recognizer("fr-FR"), nullptr);
    std::map<char, std::shared_ptr<RecognitionRequest>> req;
    for (char task : std::string("eyABCD")) {
        req[task] = service.makeRequest();
        req[task]->settings.shouldReportPartialResults = task != 'A';
    }
    req['A']->settings.addsPunctuation = false;
    const auto first = readWav(recordingPath("0880")), second = readWav(recordingPath("0870"));
    // A model that cannot load is unavailable and its task says why, naming
    // it (not only its folder, named en-GB and yy-YY): en_GB's is turned away
    // before PocketSphinx sees it, yy_YY's refused by PocketSphinx. B, stereo
    // at 48 kHz, is complete before any task opens; the rest is fed while the
    // model loads. A needs no resampling: its text is PocketSphinx's own.
    req['e']->endAudio(), req['y']->endAudio();
    feed(*req['B'], second, true);
    Tasks got;
    got.open('e', *all.recognizer("en_GB"), req['e']);
    got.open('y', *all.recognizer("yy_YY"), req['y']);
    for (char task : std::string("ABCD")) got.open(task, *recognizer, req[task]);
    feed(*req['A'], first, false);
    feed(*req['C'], second, true);
    feed(*req['D'], Samples(16000 * 2, 0), true);
    loop.postAfter(240, [&] { loop.quit(1); });
    std::function<void()> check = [&] {
        got.finished.size() == 5 ? loop.quit(0) : loop.postAfter(0.01, check);
    };
    loop.post(check);
    ASSERT_EQ(loop.run(), 0) << "only " << got.finished << " finished";
    fs::remove_all(folder);
    EXPECT_NE(got.errors['e'].find("en_GB"), std::string::npos) << got.errors['e'];
    EXPECT_NE(got.errors['y'].find("yy_YY"), std::string::npos) << got.errors['y'];
    EXPECT_FALSE(all.recognizer("en_GB")->isAvailable() || all.recognizer("yy_YY")->isAvailable());
    EXPECT_FALSE(got.results.contains('e') || got.results.contains('y'));
    std::erase_if(got.finished, ::islower);
    EXPECT_EQ(got.finished, "ABD");
    EXPECT_TRUE(got.errors.size() == 2 && !got.offMain);
    EXPECT_EQ(got.results['C'].size(), 1u);  // D's final came after all C could have sent
    const auto expected = referenceTexts({first, second});
    auto &a = got.results['A'], &b = got.results['B'], &d = got.results['D'];
    ASSERT_TRUE(a.size() == 1 && d.size() == 1 && b.size() >= 3);  // partials only for B
    EXPECT_EQ(a[0].text, expected[0]);                             // without punctuation
    EXPECT_EQ(d[0].text, "");
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        const std::string& text = b[i].text;  // a partial: plain, and new
        EXPECT_FALSE(b[i].isFinal || text.empty() || std::isupper((unsigned char)text[0])) << text;
        EXPECT_TRUE(i == 0 || text != b[i - 1].text) << text;
    }
    const std::string& final = b.back().text;
    EXPECT_TRUE(std::isupper((unsigned char) final.front()) && final.ends_with('.')) << final;
    EXPECT_GE(sharedInOrder(expected[1], final), 0.8) << final;
}

// What the decoder says, made into the text the service reports.
TEST(SpeechService, KeepsOnlySpokenWordsAndMakesThemASentence) {
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
