// The PocketSphinx speech service against Debian's model and recordings, on
// the program's own main loop.
#include "platform/linux/speech_service.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "platform/linux/model_search.h"
#include "platform/linux/run_loop.h"
#include "support/recordings.h"

namespace scrivia::platform::linux_ {
namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;

// What tasks named by a letter delivered, and the order they finished in.
struct Deliveries {
    std::map<char, std::vector<RecognitionResult>> results;
    std::map<char, std::string> errors;
    std::string finished;
    bool offMain = false;
    ResultHandler handler(char task) {
        return [this, task, main = std::this_thread::get_id()](auto result, auto error) {
            offMain |= std::this_thread::get_id() != main;
            if (result) results[task].push_back(*result);
            if (error) errors[task] += error->description;
            if (error || (result && result->isFinal)) finished += task;
        };
    }
    // Runs `loop` until `count` tasks have finished; false after four minutes.
    bool runUntil(RunLoop& loop, std::size_t count) {
        loop.postAfter(240, [&] { loop.quit(1); });
        std::function<void()> check = [&] {
            finished.size() >= count ? loop.quit(0) : loop.postAfter(0.01, check);
        };
        loop.post(check);
        return loop.run() == 0;
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

TEST(SpeechService, FindsModelsInSearchOrderServesALanguageFromItsOwnAndSaysWhyOneFails) {
    const fs::path folder =
        fs::temp_directory_path() / ("scrivia-models-" + std::to_string(getpid()));
    const std::string root = folder.string(), english = "/usr/share/pocketsphinx/model";
    // "0.3" is how a text mdef begins, enough for the catalogue.
    auto put = [&](const std::string& file, const char* content = "0.3\n") {
        fs::create_directories((folder / file).parent_path());
        std::ofstream(folder / file) << content;
    };
    for (std::string at :
         {"path1/en-GB", "path2/en_GB", "path2/de_DE", "share/scrivia/models/fr-FR",
          "home/.local/share/scrivia/models/de_DE", "home/.local/share/scrivia/models/fr_FR",
          "share/scrivia/models/en_US", "share/scrivia/models/zh_CN", "share/scrivia/models/zh_TW",
          "built/pt_BR", "built/it_IT"})
        for (const char* file : {"/acoustic-model/mdef", "/language-model.lm", "/dictionary.dict"})
            put(at + file);
    put("file");
    fs::remove(folder / "built/it_IT/language-model.lm");  // incomplete
    // yy_YY: Debian's acoustic model and dictionary, a language model PocketSphinx refuses.
    put("built/yy-YY/language-model.lm.bin", "garbage");
    fs::create_symlink(english + "/en-us/en-us", folder / "built/yy-YY/acoustic-model");
    fs::create_symlink(english + "/en-us/cmudict-en-us.dict",
                       folder / "built/yy-YY/dictionary.dict");
    // Entries that are no folder, or none at all, are skipped.
    const std::string path =
        root + "/path1::" + root + "/file:" + root + "/none:" + root + "/path2";
    RunLoop loop;
    SpeechService all(loop,
                      modelDirectories({path.c_str(), nullptr, (root + "/share").c_str(), nullptr,
                                        (root + "/home").c_str(), root + "/built", english}));
    for (auto [asked, locale, from] : std::initializer_list<std::array<const char*, 3>>{
             {"en-GB", "en_GB", "/path1/"},       // SCRIVIA_MODEL_PATH's first folder first
             {"de_de", "de_DE", "/path2/"},       // then its next, before the data home
             {"fr_FR", "fr_FR", "/home/"},        // the data home before the data folders
             {"en_US", "en_US", "/share/"},       // a data folder before the system's model
             {"pt_PT", "pt_BR", "/built/"},       // the only model of the language
             {"zh_Hant_TW", "zh_TW", "/share/"},  // same region before lowest code point
             {"it_IT", nullptr, ""},
             {"xx_XX", nullptr, ""},
         }) {
        auto recognizer = std::dynamic_pointer_cast<SphinxRecognizer>(all.recognizer(asked));
        ASSERT_EQ(recognizer != nullptr, locale != nullptr) << asked;
        if (!recognizer) continue;
        EXPECT_EQ(recognizer->localeIdentifier(), locale) << asked;
        EXPECT_TRUE(recognizer->files().dictionary.starts_with(root + from))
            << asked << ": " << recognizer->files().dictionary;
    }
    EXPECT_EQ(all.supportedLocales(),
              (std::vector<std::string>{"de_DE", "en_GB", "en_US", "fr_FR", "pt_BR", "yy_YY",
                                        "zh_CN", "zh_TW"}));
    EXPECT_EQ(all.recognizer("en-gb"), all.recognizer("en_AU"));  // one recogniser, one load
    // A model that cannot load is unavailable and its task says why, naming
    // it (not only its folder, named en-GB and yy-YY): en_GB's is turned away
    // before PocketSphinx sees it, yy_YY's refused by PocketSphinx.
    Deliveries got;
    std::vector<std::shared_ptr<RecognitionTask>> tasks;
    for (const char* locale : {"en_GB", "yy_YY"}) {
        auto request = all.makeRequest();
        tasks.push_back(all.recognizer(locale)->recognitionTask(request, got.handler(locale[0])));
        request->endAudio();
    }
    ASSERT_TRUE(got.runUntil(loop, 2));
    EXPECT_TRUE(got.results.empty());
    EXPECT_NE(got.errors['e'].find("en_GB"), std::string::npos) << got.errors['e'];
    EXPECT_NE(got.errors['y'].find("yy_YY"), std::string::npos) << got.errors['y'];
    EXPECT_FALSE(all.recognizer("en_GB")->isAvailable() || all.recognizer("yy_YY")->isAvailable());
    // Without the variables: the XDG defaults, and the built-in folder once.
    EXPECT_EQ(
        modelDirectories({.home = "/h", .builtInModels = "/usr/share/scrivia/models"}).models,
        (std::vector<std::string>{"/h/.local/share/scrivia/models",
                                  "/usr/local/share/scrivia/models", "/usr/share/scrivia/models"}));
    fs::remove_all(folder);
}

TEST(SpeechService, DecodesInOrderLikePocketSphinxUntilCancelledAndSilenceIsEmpty) {
    RunLoop loop;
    SpeechService service{loop, ModelDirectories{{}, "/usr/share/pocketsphinx/model"}};
    // With only the English model, English of any region is served by it.
    auto english = service.recognizer("en_US");
    for (const char* asked : {"en_GB", "en", "en-IN"})
        EXPECT_EQ(service.recognizer(asked), english);
    EXPECT_EQ(service.recognizer("fr-FR"), nullptr);
    auto request = [&](bool partials) {
        auto request = service.makeRequest();
        request->settings.shouldReportPartialResults = partials;
        return request;
    };
    auto reqA = request(false), reqB = request(true), reqC = request(true), reqD = request(true);
    reqA->settings.addsPunctuation = false;
    const auto first = readWav(recordingPath("0880")), second = readWav(recordingPath("0870"));
    // B, stereo at 48 kHz, is complete before any task opens; the rest is fed
    // while the model loads. A needs no resampling: its text is PocketSphinx's own.
    feed(*reqB, second, true);
    Deliveries got;
    int cancelledCalls = 0;
    auto taskA = english->recognitionTask(reqA, got.handler('A'));
    auto taskB = english->recognitionTask(reqB, got.handler('B'));
    std::shared_ptr<RecognitionTask> taskC = english->recognitionTask(reqC, [&](auto, auto) {
        ++cancelledCalls;
        taskC->cancel();  // from within its own handler, with more results likely queued
    });
    auto taskD = english->recognitionTask(reqD, got.handler('D'));
    feed(*reqA, first, false);
    feed(*reqC, second, true);
    feed(*reqD, Samples(16000 * 2, 0), true);
    ASSERT_TRUE(got.runUntil(loop, 3));
    EXPECT_EQ(got.finished, "ABD");
    EXPECT_TRUE(got.errors.empty() && !got.offMain);
    EXPECT_EQ(cancelledCalls, 1);  // D's final came after all C could have sent
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

}  // namespace
}  // namespace scrivia::platform::linux_
