// The PocketSphinx speech service against real models and recordings.
#include "platform/linux/speech_service.h"

#include <gtest/gtest.h>
#include <pocketsphinx.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

#include "platform/linux/sphinx_text.h"
#include "support/pumped_run_loop.h"

namespace scrivia::platform::linux_ {
namespace {

namespace fs = std::filesystem;
using Samples = std::vector<std::int16_t>;

const std::string kData = SCRIVIA_TEST_DATA_DIR;
const std::string kSystemModels = "/usr/share/pocketsphinx/model";
const std::string kEnglish = kSystemModels + "/en-us";
const ModelFiles kEnglishFiles{kEnglish + "/en-us", kEnglish + "/en-us.lm.bin",
                               kEnglish + "/cmudict-en-us.dict"};

using TestRunLoop = testing::PumpedRunLoop;

// What one task delivered, in order.
struct Delivery {
    std::vector<RecognitionResult> results;
    std::vector<std::string> errors;
    int calls = 0, partials = 0;
    bool offMainThread = false;
    int finishedAt = 0;  // when the final came, counting finals of every task
    static inline int finals = 0;

    bool done() const { return !errors.empty() || (!results.empty() && results.back().isFinal); }
    ResultHandler handler() {
        return [this, main = std::this_thread::get_id()](auto result, auto error) {
            ++calls;
            offMainThread |= std::this_thread::get_id() != main;
            if (result) results.push_back(*result);
            if (result && !result->isFinal) ++partials;
            if (result && result->isFinal) finishedAt = ++finals;
            if (error) errors.push_back(error->description);
        };
    }
};

// A recording of 16 kHz mono PCM after a 44-byte header.
Samples librivox(const std::string& id) {
    std::ifstream file(kData + "/librivox/sense_and_sensibility_01_austen_64kb-" + id + ".wav",
                       std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    Samples samples(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

// PocketSphinx's own reading of each recording, streamed as a live decoder
// hears it, one after another on one decoder: it adapts to the voice as it
// goes, so the reference for a second request must have heard the first. (A
// whole-file decode normalises each recording as a whole and reads short
// recordings differently, so it is no reference for a live decoder.)
std::vector<std::string> reference(const std::vector<Samples>& recordings) {
    silenceSphinxLogging();
    cmd_ln_t* config = cmd_ln_init(
        nullptr, ps_args(), TRUE, "-hmm", kEnglishFiles.acousticModel.c_str(), "-lm",
        kEnglishFiles.languageModel.c_str(), "-dict", kEnglishFiles.dictionary.c_str(), nullptr);
    ps_decoder_t* decoder = ps_init(config);
    if (decoder == nullptr) throw std::runtime_error("PocketSphinx cannot load its English model");
    std::vector<std::string> texts;
    for (const auto& audio : recordings) {
        ps_start_utt(decoder);
        for (std::size_t at = 0; at < audio.size(); at += 256) {
            ps_process_raw(decoder, &audio[at], std::min<std::size_t>(256, audio.size() - at),
                           FALSE, FALSE);
        }
        ps_end_utt(decoder);
        std::int32_t score = 0;
        const char* hypothesis = ps_get_hyp(decoder, &score);
        texts.emplace_back(hypothesis ? hypothesis : "");
    }
    ps_free(decoder);
    cmd_ln_free_r(config);
    return texts;
}

// The share of the words of `expected` that `text` has too, whatever its case.
double overlap(const std::string& expected, std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (text.ends_with('.')) text.pop_back();
    std::istringstream want(expected), have(text);
    std::multiset<std::string> got{std::istream_iterator<std::string>(have), {}};
    int total = 0, found = 0;
    for (std::istream_iterator<std::string> word(want), end; word != end; ++word, ++total) {
        if (auto match = got.find(*word); match != got.end()) {
            got.erase(match);
            ++found;
        }
    }
    return total == 0 ? 0.0 : double(found) / total;
}

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
        request.append(
            AudioBuffer{channels, frames, at48kStereo ? 2u : 1u, at48kStereo ? 48000.0 : 16000.0});
    }
}

struct TemporaryFolder {
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "scrivia-speech-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { fs::remove_all(path); }
    void write(const fs::path& file, const std::string& content = "0.3\n") const {
        fs::create_directories((path / file).parent_path());
        std::ofstream(path / file) << content;
    }
    void link(const fs::path& target, const fs::path& file) const {
        fs::create_directories((path / file).parent_path());
        fs::create_symlink(target, path / file);
    }
    fs::path path;
};

class SpeechServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<RecognitionRequest> request(bool partials,
                                                std::optional<bool> punctuation = {}) {
        auto request = service.makeRequest();
        request->settings.shouldReportPartialResults = partials;
        request->settings.addsPunctuation = punctuation;
        return request;
    }
    TestRunLoop loop;
    SpeechService service{loop, ModelDirectories{kSystemModels, ""}};
    std::shared_ptr<SpeechRecognizer> english = service.recognizer("en_US");
};

TEST_F(SpeechServiceTest, CataloguesCompleteModelsUnderEitherSeparator) {
    TemporaryFolder folder;
    for (auto file :
         {"system/en-us/en-us/mdef", "system/en-us/en-us.lm.bin", "system/en-us/cmudict-en-us.dict",
          "own/fr-FR/acoustic-model/mdef", "own/fr-FR/language-model.lm",
          "own/fr-FR/dictionary.dict", "own/de_DE/acoustic-model/mdef", "own/de_DE/dictionary.dict",
          "own/.hidden/acoustic-model/mdef", "own/es_ES",
          // scrivia's own model replaces the system's for its locale
          "own/en_US/acoustic-model/mdef", "own/en_US/language-model.lm.bin",
          "own/en_US/dictionary.dict"}) {
        folder.write(file);
    }
    ModelDirectories directories{(folder.path / "system").string(), (folder.path / "own").string()};
    SpeechService custom(loop, directories);
    auto locales = custom.supportedLocales();
    std::sort(locales.begin(), locales.end());
    EXPECT_EQ(locales, (std::vector<std::string>{"en_US", "fr_FR"}));
    auto french = custom.recognizer("fr-FR");
    ASSERT_NE(french, nullptr);
    EXPECT_EQ(french, custom.recognizer("fr_FR"));
    EXPECT_EQ(french->localeIdentifier(), "fr_FR");
    EXPECT_EQ(custom.recognizer("de_DE"), nullptr);  // no language model
    for (const auto& model : findModels(directories)) {
        if (model.localeIdentifier != "en_US") continue;
        EXPECT_EQ(model.files.dictionary, (folder.path / "own/en_US/dictionary.dict").string());
    }
}

TEST_F(SpeechServiceTest, AuthorisesFromAnotherThread) {
    std::promise<std::pair<AuthorizationStatus, std::thread::id>> answer;
    service.requestAuthorization([&](AuthorizationStatus status) {
        answer.set_value({status, std::this_thread::get_id()});
    });
    auto [status, thread] = answer.get_future().get();
    EXPECT_EQ(status, 3);
    EXPECT_NE(thread, std::this_thread::get_id());
}

TEST_F(SpeechServiceTest, UnusableModelIsUnavailableAndEveryTaskSaysWhy) {
    TemporaryFolder folder;
    // Malformed acoustic model: turned away before PocketSphinx sees it.
    folder.write("xx_XX/acoustic-model/mdef", "not a model");
    folder.write("xx_XX/language-model.lm.bin");
    folder.write("xx_XX/dictionary.dict");
    // A language model PocketSphinx refuses only once it tries to load it.
    folder.link(kEnglishFiles.acousticModel, "yy_YY/acoustic-model");
    folder.write("yy_YY/language-model.lm.bin", "garbage");
    folder.link(kEnglishFiles.dictionary, "yy_YY/dictionary.dict");
    SpeechService custom(loop, ModelDirectories{"", folder.path.string()});

    auto malformed = custom.recognizer("xx_XX");
    ASSERT_NE(malformed, nullptr);
    EXPECT_FALSE(malformed->isAvailable());
    auto unloadable = std::dynamic_pointer_cast<SphinxRecognizer>(custom.recognizer("yy-YY"));
    ASSERT_NE(unloadable, nullptr);
    EXPECT_FALSE(unloadable->waitUntilLoaded());
    EXPECT_FALSE(unloadable->isAvailable());

    for (const auto& recognizer : {malformed, std::shared_ptr<SpeechRecognizer>(unloadable)}) {
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
    auto audio = librivox("0870");
    Delivery delivery;
    auto req = request(true);
    auto task = english->recognitionTask(req, delivery.handler());
    // The model is still loading while this arrives; none of it may be lost.
    feed(*req, audio, true);
    req->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));

    EXPECT_TRUE(delivery.errors.empty());
    EXPECT_FALSE(delivery.offMainThread);
    EXPECT_GE(delivery.partials, 2);
    for (std::size_t i = 0; i + 1 < delivery.results.size(); ++i) {
        const std::string& text = delivery.results[i].text;  // a partial: plain, and new
        EXPECT_FALSE(text.empty() || std::isupper(static_cast<unsigned char>(text[0]))) << text;
        EXPECT_TRUE(i == 0 || text != delivery.results[i - 1].text) << text;
    }
    ASSERT_EQ(delivery.calls, delivery.partials + 1);
    const std::string& final = delivery.results.back().text;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(final.front())) && final.ends_with('.'))
        << final;
    EXPECT_GE(overlap(reference({audio})[0], final), 0.8) << final;
}

TEST_F(SpeechServiceTest, DecodesInOrderAudioQueuedBeforeTheTaskOpens) {
    auto first = librivox("0880"), second = librivox("0930");
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
    EXPECT_LT(a.finishedAt, b.finishedAt);
    auto expected = reference({first, second});
    EXPECT_EQ(a.results.back().text, formatSentence(expected[0]));
    EXPECT_EQ(b.results.back().text, expected[1]);  // punctuation off
}

TEST_F(SpeechServiceTest, CancelledTaskDeliversNothingMoreAndSilenceGivesAnEmptyFinal) {
    auto audio = librivox("0870");
    auto req = request(true);
    Delivery cancelled;
    std::shared_ptr<RecognitionTask> task;
    task = english->recognitionTask(req, [&, record = cancelled.handler()](auto r, auto e) {
        record(r, e);
        task->cancel();  // from within its own handler, with more results likely queued
    });
    feed(*req, Samples(audio.begin(), audio.begin() + audio.size() / 2), true);
    ASSERT_TRUE(loop.runUntil([&] { return cancelled.calls > 0; }));
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
    EXPECT_EQ(cancelled.calls, 1);
    ASSERT_EQ(next.calls, 1);
    EXPECT_TRUE(next.results[0].isFinal);
    EXPECT_EQ(next.results[0].text, "");
}

}  // namespace
}  // namespace scrivia::platform::linux_
