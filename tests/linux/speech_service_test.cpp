// The PocketSphinx speech service against Debian's model and recordings.
#include "platform/linux/speech_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/linux/model_search.h"
#include "support/pumped_run_loop.h"
#include "support/recordings.h"

namespace scrivia::platform::linux_ {
namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;

// What one task delivered, in order.
struct Delivery {
    std::vector<RecognitionResult> results;
    std::vector<std::string> errors;
    bool offMain = false;
    int finishedAt = 0;  // when the final came, counting finals of every task
    static inline int finals = 0;

    bool done() const { return !errors.empty() || (!results.empty() && results.back().isFinal); }
    ResultHandler handler() {
        return [this, main = std::this_thread::get_id()](auto result, auto error) {
            offMain |= std::this_thread::get_id() != main;
            if (result) results.push_back(*result);
            if (result && result->isFinal) finishedAt = ++finals;
            if (error) errors.push_back(error->description);
        };
    }
};

// Feeds 16 kHz `audio` in 2048-frame buffers as a microphone would: at 48 kHz
// in stereo, or at 16 kHz mono, which needs no resampling. The stereo channels
// carry loud noise in opposite phases, so only their average is the recording.
void feed(RecognitionRequest& request, const Samples& audio, bool stereo) {
    const std::size_t factor =
        stereo ? 3 : 1;  // each sample held: the resampler removes the images
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> left, right;
    for (std::size_t i = 0; i < audio.size() * factor; ++i) {
        float x = audio[i / factor] / 32768.0f, n = stereo ? noise(random) : 0;
        left.push_back(x + n);
        right.push_back(x - n);
    }
    for (std::size_t at = 0; at < left.size(); at += 2048) {
        const float* channels[2] = {&left[at], &right[at]};
        auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(2048, left.size() - at));
        request.append({channels, frames, stereo ? 2u : 1u, stereo ? 48000.0 : 16000.0});
    }
}

// "0.3" is how a text mdef begins, enough for the catalogue.
void put(const fs::path& file, const char* content = "0.3\n") {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << content;
}

class SpeechServiceTest : public ::testing::Test {
  protected:
    void TearDown() override { fs::remove_all(folder); }
    std::shared_ptr<RecognitionRequest> request(bool partials,
                                                std::optional<bool> punctuation = {}) {
        auto request = service.makeRequest();
        request->settings.shouldReportPartialResults = partials;
        request->settings.addsPunctuation = punctuation;
        return request;
    }
    PumpedRunLoop loop;
    SpeechService service{loop, ModelDirectories{{}, "/usr/share/pocketsphinx/model"}};
    std::shared_ptr<SpeechRecognizer> english = service.recognizer("en_US");
    fs::path folder = fs::temp_directory_path() / ("scrivia-models-" + std::to_string(getpid()));
};

TEST_F(SpeechServiceTest, FindsModelsInSearchOrderServesALanguageFromItsOwnAndSaysWhyOneFails) {
    const std::string root = folder.string();
    for (std::string at :
         {"path1/en-GB", "path2/en_GB", "path2/de_DE", "share/scrivia/models/fr-FR",
          "home/.local/share/scrivia/models/de_DE", "home/.local/share/scrivia/models/fr_FR",
          "share/scrivia/models/en_US", "share/scrivia/models/zh_CN", "share/scrivia/models/zh_TW",
          "built/pt_BR", "built/it_IT"})
        for (const char* file : {"acoustic-model/mdef", "language-model.lm", "dictionary.dict"})
            put(folder / at / file);
    for (const char* file : {"en-us/mdef", "en-us.lm.bin", "cmudict-en-us.dict"})
        put(folder / "system/en-us" / file);
    put(folder / "file");
    fs::remove(folder / "built/it_IT/language-model.lm");  // incomplete
    // yy_YY: Debian's acoustic model and dictionary, a language model PocketSphinx refuses.
    const std::string english = "/usr/share/pocketsphinx/model/en-us";
    put(folder / "built/yy-YY/language-model.lm.bin", "garbage");
    fs::create_symlink(english + "/en-us", folder / "built/yy-YY/acoustic-model");
    fs::create_symlink(english + "/cmudict-en-us.dict", folder / "built/yy-YY/dictionary.dict");
    // Entries that are no folder, or none at all, are skipped.
    const std::string path =
        root + "/path1::" + root + "/file:" + root + "/none:" + root + "/path2";
    SpeechService all(
        loop, modelDirectories({path.c_str(), nullptr, (root + "/share").c_str(), nullptr,
                                (root + "/home").c_str(), root + "/built", root + "/system"}));
    SpeechService system(loop, ModelDirectories{{}, root + "/system"});
    struct Row {
        SpeechService& service;
        const char *asked, *locale, *from;  // locale null: no recogniser; from: its folder
    };
    for (const Row& r : std::initializer_list<Row>{
             {all, "en-GB", "en_GB", "/path1/"},       // SCRIVIA_MODEL_PATH's first folder first
             {all, "de_de", "de_DE", "/path2/"},       // then its next, before the data home
             {all, "fr_FR", "fr_FR", "/home/"},        // the data home before the data folders
             {all, "en_US", "en_US", "/share/"},       // a data folder before the system's model
             {all, "pt_PT", "pt_BR", "/built/"},       // the only model of the language
             {all, "zh_Hant_TW", "zh_TW", "/share/"},  // same region before lowest code point
             {all, "it_IT", nullptr, ""},
             {all, "xx_XX", nullptr, ""},
             {system, "en_GB", "en_US", "/system/"},
             {system, "en", "en_US", "/system/"},
             {system, "en-IN", "en_US", "/system/"},
             {system, "fr-FR", nullptr, ""},
         }) {
        auto recognizer =
            std::dynamic_pointer_cast<SphinxRecognizer>(r.service.recognizer(r.asked));
        ASSERT_EQ(recognizer != nullptr, r.locale != nullptr) << r.asked;
        if (!recognizer) continue;
        EXPECT_EQ(recognizer->localeIdentifier(), r.locale) << r.asked;
        EXPECT_TRUE(recognizer->files().dictionary.starts_with(root + r.from))
            << r.asked << ": " << recognizer->files().dictionary;
    }
    EXPECT_EQ(all.supportedLocales(),
              (std::vector<std::string>{"de_DE", "en_GB", "en_US", "fr_FR", "pt_BR", "yy_YY",
                                        "zh_CN", "zh_TW"}));
    EXPECT_EQ(all.recognizer("en-gb"), all.recognizer("en_AU"));  // one recogniser, one load
    // A model that cannot load is unavailable and every task says why, naming
    // it (not only its folder, named en-GB and yy-YY): en_GB's is turned away
    // before PocketSphinx sees it, yy_YY's refused by PocketSphinx.
    for (const auto& recognizer : {all.recognizer("en_GB"), all.recognizer("yy_YY")}) {
        ASSERT_NE(recognizer, nullptr);
        Delivery delivery;
        auto request = all.makeRequest();
        auto task = recognizer->recognitionTask(request, delivery.handler());
        request->endAudio();
        ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));
        ASSERT_EQ(delivery.errors.size(), 1u);
        EXPECT_NE(delivery.errors[0].find(recognizer->localeIdentifier()), std::string::npos);
        EXPECT_TRUE(delivery.results.empty());
        EXPECT_FALSE(recognizer->isAvailable());
    }
    // Without the variables: the XDG defaults, and the built-in folder once.
    EXPECT_EQ(
        modelDirectories({.home = "/h", .builtInModels = "/usr/share/scrivia/models"}).models,
        (std::vector<std::string>{"/h/.local/share/scrivia/models",
                                  "/usr/local/share/scrivia/models", "/usr/share/scrivia/models"}));
}

TEST_F(SpeechServiceTest, DecodesInOrderLikePocketSphinxUntilCancelledAndSilenceIsEmpty) {
    auto first = readWav(recordingPath("0880")), second = readWav(recordingPath("0870"));
    auto reqA = request(false, false), reqB = request(true), reqC = request(true),
         reqD = request(true);
    // B, stereo at 48 kHz, is complete before any task opens; the rest is fed
    // while the model loads. A needs no resampling: its text is PocketSphinx's own.
    feed(*reqB, second, true);
    reqB->endAudio();
    Delivery a, b, d;
    int cancelledCalls = 0;
    auto taskA = english->recognitionTask(reqA, a.handler());
    auto taskB = english->recognitionTask(reqB, b.handler());
    std::shared_ptr<RecognitionTask> taskC = english->recognitionTask(reqC, [&](auto, auto) {
        ++cancelledCalls;
        taskC->cancel();  // from within its own handler, with more results likely queued
    });
    auto taskD = english->recognitionTask(reqD, d.handler());
    feed(*reqA, first, false);
    feed(*reqC, second, true);
    feed(*reqD, Samples(16000 * 2, 0), true);
    for (auto* request : {&reqA, &reqC, &reqD}) (*request)->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return a.done() && b.done() && d.done(); }));
    ASSERT_TRUE(a.errors.empty() && b.errors.empty() && d.errors.empty());
    EXPECT_FALSE(a.offMain || b.offMain || d.offMain);
    EXPECT_TRUE(a.finishedAt < b.finishedAt && b.finishedAt < d.finishedAt);
    EXPECT_EQ(cancelledCalls, 1);  // D's final came after all C could have sent
    ASSERT_EQ(d.results.size(), 1u);
    EXPECT_EQ(d.results[0].text, "");
    const auto expected = referenceTexts({first, second});
    ASSERT_EQ(a.results.size(), 1u);            // no partials asked for
    EXPECT_EQ(a.results[0].text, expected[0]);  // nor punctuation
    ASSERT_GE(b.results.size(), 3u);            // partials, then the final
    for (std::size_t i = 0; i + 1 < b.results.size(); ++i) {
        const std::string& text = b.results[i].text;  // a partial: plain, and new
        EXPECT_FALSE(b.results[i].isFinal);
        EXPECT_FALSE(text.empty() || std::isupper(static_cast<unsigned char>(text[0]))) << text;
        EXPECT_TRUE(i == 0 || text != b.results[i - 1].text) << text;
    }
    const std::string& final = b.results.back().text;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(final.front())) && final.ends_with('.'))
        << final;
    EXPECT_GE(sharedInOrder(expected[1], final), 0.8) << final;
}

}  // namespace
}  // namespace scrivia::platform::linux_
