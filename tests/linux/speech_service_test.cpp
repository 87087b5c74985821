// The PocketSphinx speech service against Debian's model and recordings.
#include "platform/linux/speech_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/linux/model_search.h"
#include "platform/linux/sphinx_text.h"
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
    bool offMainThread = false;
    int finishedAt = 0;  // when the final came, counting finals of every task
    static inline int finals = 0;

    bool done() const { return !errors.empty() || (!results.empty() && results.back().isFinal); }
    ResultHandler handler() {
        return [this, main = std::this_thread::get_id()](auto result, auto error) {
            offMainThread |= std::this_thread::get_id() != main;
            if (result) results.push_back(*result);
            if (result && result->isFinal) finishedAt = ++finals;
            if (error) errors.push_back(error->description);
        };
    }
};

// Feeds 16 kHz `audio` in 2048-frame buffers as a microphone would: at 48 kHz
// in stereo, or at 16 kHz mono, which needs no resampling. The stereo channels
// carry loud noise in opposite phases, so only their average is the recording.
void feed(RecognitionRequest& request, const Samples& audio, bool at48kStereo) {
    const std::size_t factor = at48kStereo ? 3 : 1;
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> left, right;
    for (std::size_t i = 0; i < audio.size(); ++i) {
        float a = audio[i] / 32768.0f, b = i + 1 < audio.size() ? audio[i + 1] / 32768.0f : a;
        for (std::size_t k = 0; k < factor; ++k) {
            float x = a + (b - a) * float(k) / float(factor), n = at48kStereo ? noise(random) : 0;
            left.push_back(x + n);
            right.push_back(x - n);
        }
    }
    for (std::size_t at = 0; at < left.size(); at += 2048) {
        const float* channels[2] = {&left[at], &right[at]};
        auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(2048, left.size() - at));
        request.append({channels, frames, at48kStereo ? 2u : 1u, at48kStereo ? 48000.0 : 16000.0});
    }
}

// Writes each file, "0.3" (a text mdef's start) unless given, under `root`.
void writeFiles(const fs::path& root,
                std::initializer_list<std::pair<const char*, const char*>> files) {
    for (auto [name, content] : files) {
        fs::create_directories((root / name).parent_path());
        std::ofstream(root / name) << (content ? content : "0.3\n");
    }
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

TEST_F(SpeechServiceTest, FindsModelsInSearchOrderAndServesALanguageFromItsOwnModels) {
    const std::string root = folder.string(), home = root + "/home", share = root + "/share";
    for (std::string at :
         {"path1/en_GB", "path2/en-GB", "path2/de_DE", "share/scrivia/models/fr-FR",
          "home/.local/share/scrivia/models/de_DE", "home/.local/share/scrivia/models/fr_FR",
          "share/scrivia/models/en_US", "share/scrivia/models/zh_CN", "share/scrivia/models/zh_TW",
          "built/pt_BR", "built/it_IT/acoustic-model"}) {
        writeFiles(
            folder / at,
            {{"acoustic-model/mdef", {}}, {"language-model.lm", {}}, {"dictionary.dict", {}}});
    }
    writeFiles(folder, {{"system/en-us/en-us/mdef", {}},
                        {"system/en-us/en-us.lm.bin", {}},
                        {"system/en-us/cmudict-en-us.dict", {}},
                        {"file", {}}});
    fs::remove(folder / "built/it_IT/language-model.lm");  // incomplete
    // Entries that are no folder, or none at all, are skipped.
    const std::string path =
        root + "/path1::" + root + "/file:" + root + "/none:" + root + "/path2";
    SpeechService all(loop, modelDirectories({path.c_str(), nullptr, share.c_str(), nullptr,
                                              home.c_str(), root + "/built", root + "/system"}));
    SpeechService system(loop, ModelDirectories{{}, root + "/system"});
    struct Row {
        SpeechService& service;
        const char* asked;
        const char* locale;  // null: no recogniser
        const char* from;    // the folder the model was found in
    };
    for (const Row& r : std::initializer_list<Row>{
             {all, "en-GB", "en_GB", "/path1/"},  // SCRIVIA_MODEL_PATH's first folder first
             {all, "de_de", "de_DE", "/path2/"},  // then its next, before the data home
             {all, "fr_FR", "fr_FR", "/home/"},   // the data home before the data folders
             {all, "en_US", "en_US", "/share/"},  // a data folder before the system's model
             {all, "pt-BR", "pt_BR", "/built/"},
             {all, "pt_PT", "pt_BR", "/built/"},
             {all, "zh_Hant_TW", "zh_TW", "/share/"},  // same region before lowest code point
             {all, "zh", "zh_CN", "/share/"},
             {all, "en_AU", "en_GB", "/path1/"},
             {all, "it_IT", nullptr, ""},
             {all, "xx_XX", nullptr, ""},
             {system, "en_GB", "en_US", "/system/"},
             {system, "en", "en_US", "/system/"},
             {system, "en-IN", "en_US", "/system/"},
             {system, "fr-FR", nullptr, ""},
         }) {
        auto recognizer =
            std::dynamic_pointer_cast<SphinxRecognizer>(r.service.recognizer(r.asked));
        if (!r.locale) {
            EXPECT_EQ(recognizer, nullptr) << r.asked;
            continue;
        }
        ASSERT_NE(recognizer, nullptr) << r.asked;
        EXPECT_EQ(recognizer->localeIdentifier(), r.locale) << r.asked;
        EXPECT_TRUE(recognizer->files().dictionary.starts_with(root + r.from))
            << r.asked << ": " << recognizer->files().dictionary;
    }
    EXPECT_EQ(all.supportedLocales(), (std::vector<std::string>{"de_DE", "en_GB", "en_US", "fr_FR",
                                                                "pt_BR", "zh_CN", "zh_TW"}));
    EXPECT_EQ(all.recognizer("en-gb"), all.recognizer("en_AU"));  // one recogniser, one load
    // Without the variables: the XDG defaults, and the built-in folder once.
    EXPECT_EQ(
        modelDirectories({.home = "/h", .builtInModels = "/usr/share/scrivia/models"}).models,
        (std::vector<std::string>{"/h/.local/share/scrivia/models",
                                  "/usr/local/share/scrivia/models", "/usr/share/scrivia/models"}));
    EXPECT_EQ(cacheFolder({.home = "/h"}), "/h/.cache/scrivia");
}

TEST_F(SpeechServiceTest, UnusableModelIsUnavailableAndEveryTaskSaysWhy) {
    // A malformed acoustic model is turned away before PocketSphinx sees it;
    // a bad language model is refused only when PocketSphinx tries it.
    writeFiles(folder, {{"xx_XX/acoustic-model/mdef", "not a model"},
                        {"xx_XX/language-model.lm.bin", {}},
                        {"xx_XX/dictionary.dict", {}},
                        {"yy_YY/language-model.lm.bin", "garbage"}});
    const std::string english = "/usr/share/pocketsphinx/model/en-us";
    fs::create_symlink(english + "/en-us", folder / "yy_YY/acoustic-model");
    fs::create_symlink(english + "/cmudict-en-us.dict", folder / "yy_YY/dictionary.dict");
    SpeechService custom(loop, ModelDirectories{{folder.string()}, ""});
    auto unloadable = std::dynamic_pointer_cast<SphinxRecognizer>(custom.recognizer("yy-YY"));
    ASSERT_NE(unloadable, nullptr);
    EXPECT_FALSE(unloadable->waitUntilLoaded());
    for (const auto& recognizer :
         {custom.recognizer("xx_XX"), std::shared_ptr<SpeechRecognizer>(unloadable)}) {
        ASSERT_NE(recognizer, nullptr);
        EXPECT_FALSE(recognizer->isAvailable());
        Delivery delivery;
        auto request = custom.makeRequest();
        auto task = recognizer->recognitionTask(request, delivery.handler());
        request->endAudio();
        ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));
        ASSERT_EQ(delivery.errors.size(), 1u);
        EXPECT_NE(delivery.errors[0].find(recognizer->localeIdentifier()), std::string::npos);
        EXPECT_TRUE(delivery.results.empty());
    }
}

TEST_F(SpeechServiceTest, DecodesResampledStereoLikePocketSphinx) {
    auto audio = readWav(recordingPath("0870"));
    Delivery delivery;
    auto req = request(true);
    auto task = english->recognitionTask(req, delivery.handler());
    feed(*req, audio, true);  // while the model loads: none of it may be lost
    req->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));
    EXPECT_TRUE(delivery.errors.empty());
    EXPECT_FALSE(delivery.offMainThread);
    ASSERT_GE(delivery.results.size(), 3u);  // partials, then the final
    for (std::size_t i = 0; i + 1 < delivery.results.size(); ++i) {
        const std::string& text = delivery.results[i].text;  // a partial: plain, and new
        EXPECT_FALSE(delivery.results[i].isFinal);
        EXPECT_FALSE(text.empty() || std::isupper(static_cast<unsigned char>(text[0]))) << text;
        EXPECT_TRUE(i == 0 || text != delivery.results[i - 1].text) << text;
    }
    const std::string& final = delivery.results.back().text;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(final.front())) && final.ends_with('.'))
        << final;
    EXPECT_GE(sharedInOrder(referenceTexts({audio})[0], final), 0.8) << final;
}

TEST_F(SpeechServiceTest, DecodesInOrderAudioQueuedBeforeTheTaskOpens) {
    auto first = readWav(recordingPath("0880")), second = readWav(recordingPath("0930"));
    Delivery a, b;
    // The second request's audio is complete before either task opens. At
    // the model's own rate nothing is resampled: the text is PocketSphinx's own.
    auto reqA = request(false), reqB = request(false, false);
    feed(*reqB, second, false);
    reqB->endAudio();
    auto taskA = english->recognitionTask(reqA, a.handler());
    auto taskB = english->recognitionTask(reqB, b.handler());
    feed(*reqA, first, false);
    reqA->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return a.done() && b.done(); }));
    ASSERT_TRUE(a.errors.empty() && b.errors.empty());
    EXPECT_LT(a.finishedAt, b.finishedAt);
    auto expected = referenceTexts({first, second});
    EXPECT_EQ(a.results.back().text, formatSentence(expected[0]));
    EXPECT_EQ(b.results.back().text, expected[1]);  // punctuation off
}

TEST_F(SpeechServiceTest, CancelledTaskDeliversNothingMoreAndSilenceGivesAnEmptyFinal) {
    auto audio = readWav(recordingPath("0870"));
    auto req = request(true);
    int cancelledCalls = 0;
    std::shared_ptr<RecognitionTask> task = english->recognitionTask(req, [&](auto, auto) {
        ++cancelledCalls;
        task->cancel();  // from within its own handler, with more results likely queued
    });
    feed(*req, Samples(audio.begin(), audio.begin() + audio.size() / 2), true);
    ASSERT_TRUE(loop.runUntil([&] { return cancelledCalls > 0; }));
    feed(*req, audio, true);
    req->endAudio();
    // The worker moves on to a later request, after anything the cancelled
    // one could have produced.
    Delivery next;
    auto silence = request(true);
    auto nextTask = english->recognitionTask(silence, next.handler());
    feed(*silence, Samples(16000 * 2, 0), true);
    silence->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return next.done(); }));
    EXPECT_EQ(cancelledCalls, 1);
    ASSERT_EQ(next.results.size(), 1u);
    EXPECT_TRUE(next.results[0].isFinal);
    EXPECT_EQ(next.results[0].text, "");
}

}  // namespace
}  // namespace scrivia::platform::linux_
