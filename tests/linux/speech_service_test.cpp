// The PocketSphinx speech service against real models and recordings.
#include "platform/linux/speech_service.h"

#include <gtest/gtest.h>
#include <pocketsphinx.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "platform/linux/sphinx_text.h"

namespace scrivia::platform::linux_ {
namespace {

namespace fs = std::filesystem;

const std::string kData = SCRIVIA_TEST_DATA_DIR;
const std::string kSystemModels = "/usr/share/pocketsphinx/model";
const std::string kEnglish = kSystemModels + "/en-us";
const std::string kLibrivox = kData + "/librivox/sense_and_sensibility_01_austen_64kb-";

// The main thread's loop, pumped by the test itself.
class TestRunLoop final : public RunLoop {
  public:
    void post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        posted_.notify_all();
    }
    void postAfter(double, std::function<void()>) override {
        ADD_FAILURE() << "the speech service only posts";
    }
    void scheduleRepeating(double, std::function<void()>) override {
        ADD_FAILURE() << "the speech service only posts";
    }
    void run() override { ADD_FAILURE() << "tests pump with runUntil"; }

    // Runs posted tasks on this thread until `done` holds; false if that takes
    // implausibly long (a hang, not a speed check).
    bool runUntil(const std::function<bool()>& done) {
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(4);
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!posted_.wait_until(lock, giveUp, [&] { return !tasks_.empty(); })) return false;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }
    // Runs whatever is queued now.
    void drain() {
        for (;;) {
            std::unique_lock lock(mutex_);
            if (tasks_.empty()) return;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

// What one task delivered, in order.
struct Delivery {
    std::vector<RecognitionResult> results;
    std::vector<std::string> errors;
    int calls = 0;
    bool offMainThread = false;
    bool done() const { return !errors.empty() || (!results.empty() && results.back().isFinal); }
    ResultHandler handler() {
        auto mainThread = std::this_thread::get_id();
        return [this, mainThread](std::optional<RecognitionResult> result,
                                  std::optional<Error> error) {
            ++calls;
            offMainThread |= std::this_thread::get_id() != mainThread;
            if (result) results.push_back(*result);
            if (error) errors.push_back(error->description);
        };
    }
    std::vector<RecognitionResult> partials() const {
        std::vector<RecognitionResult> found;
        for (const auto& r : results) {
            if (!r.isFinal) found.push_back(r);
        }
        return found;
    }
};

std::vector<std::int16_t> readSamples(const std::string& path, std::size_t headerBytes) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    EXPECT_GT(bytes.size(), headerBytes) << path;
    std::vector<std::int16_t> samples((bytes.size() - headerBytes) / 2);
    std::memcpy(samples.data(), bytes.data() + headerBytes, samples.size() * 2);
    return samples;
}
std::vector<std::int16_t> librivox(const std::string& id) {
    return readSamples(kLibrivox + id + ".wav", 44);  // 16 kHz mono PCM after a plain header
}

// PocketSphinx's own reading of each recording, streamed as a live decoder
// hears it, one recording after another on one decoder: it adapts to the
// voice as it goes, so the reference for a second request must have heard the
// first. (A whole-file decode normalises each recording as a whole and reads
// short recordings differently, so it is no reference for a live decoder.)
std::vector<std::vector<std::string>> referenceWords(
    const ModelFiles& model, const std::vector<std::vector<std::int16_t>>& recordings) {
    silenceSphinxLogging();
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(), "-lm",
                    model.languageModel.c_str(), "-dict", model.dictionary.c_str(), nullptr);
    ps_decoder_t* decoder = ps_init(config);
    EXPECT_NE(decoder, nullptr);
    std::vector<std::vector<std::string>> result;
    for (const auto& audio : recordings) {
        if (decoder == nullptr) break;
        ps_start_utt(decoder);
        for (std::size_t start = 0; start < audio.size(); start += 256) {
            ps_process_raw(decoder, audio.data() + start,
                           std::min<std::size_t>(256, audio.size() - start), FALSE, FALSE);
        }
        ps_end_utt(decoder);
        std::int32_t score = 0;
        const char* hypothesis = ps_get_hyp(decoder, &score);
        std::istringstream words(hypothesis ? hypothesis : "");
        result.emplace_back(std::istream_iterator<std::string>(words),
                            std::istream_iterator<std::string>());
    }
    ps_free(decoder);
    cmd_ln_free_r(config);
    return result;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// The share of `expected` found in order in `text` (longest common subsequence).
double overlap(const std::vector<std::string>& expected, std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return c == '.' ? ' ' : static_cast<char>(std::tolower(c));
    });
    std::istringstream stream(text);
    std::vector<std::string> got{std::istream_iterator<std::string>(stream), {}};
    std::vector<std::vector<std::size_t>> lcs(expected.size() + 1,
                                              std::vector<std::size_t>(got.size() + 1, 0));
    for (std::size_t i = 1; i <= expected.size(); ++i) {
        for (std::size_t j = 1; j <= got.size(); ++j) {
            lcs[i][j] = expected[i - 1] == got[j - 1] ? lcs[i - 1][j - 1] + 1
                                                      : std::max(lcs[i - 1][j], lcs[i][j - 1]);
        }
    }
    return expected.empty() ? 0.0 : double(lcs.back().back()) / double(expected.size());
}

// Feeds `audio` (16 kHz) as 48 kHz stereo in 2048-frame buffers, the way a
// typical microphone delivers it. The channels differ; their average is the
// recording.
void feed48kStereo(RecognitionRequest& request, const std::vector<std::int16_t>& audio) {
    std::vector<float> left, right;
    for (std::size_t i = 0; i < audio.size(); ++i) {
        float a = audio[i] / 32768.0f;
        float b = i + 1 < audio.size() ? audio[i + 1] / 32768.0f : a;
        for (int k = 0; k < 3; ++k) {
            float x = a + (b - a) * float(k) / 3.0f;
            left.push_back(1.5f * x);
            right.push_back(0.5f * x);
        }
    }
    for (std::size_t start = 0; start < left.size(); start += 2048) {
        const float* channels[2] = {left.data() + start, right.data() + start};
        auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(2048, left.size() - start));
        request.append(AudioBuffer{channels, frames, 2, 48000});
    }
}

void feed16kMono(RecognitionRequest& request, const std::vector<std::int16_t>& audio) {
    std::vector<float> mono(audio.begin(), audio.end());
    for (float& x : mono) x /= 32768.0f;
    for (std::size_t start = 0; start < mono.size(); start += 1024) {
        const float* channels[1] = {mono.data() + start};
        auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(1024, mono.size() - start));
        request.append(AudioBuffer{channels, frames, 1, 16000});
    }
}

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "0.3\n";
}

class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "scrivia-speech-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { fs::remove_all(path); }
    fs::path path;
};

class SpeechServiceTest : public ::testing::Test {
  protected:
    ModelFiles english() const {
        return {kEnglish + "/en-us", kEnglish + "/en-us.lm.bin", kEnglish + "/cmudict-en-us.dict"};
    }
    std::shared_ptr<SpeechRecognizer> englishRecognizer() {
        auto recognizer = service.recognizer("en_US");
        EXPECT_NE(recognizer, nullptr);
        return recognizer;
    }
    std::shared_ptr<RecognitionRequest> request(bool partials,
                                                std::optional<bool> punctuation = {}) {
        auto request = service.makeRequest();
        request->settings.shouldReportPartialResults = partials;
        request->settings.addsPunctuation = punctuation;
        return request;
    }
    TestRunLoop loop;
    SpeechService service{loop, ModelDirectories{kSystemModels, ""}};
};

TEST_F(SpeechServiceTest, CataloguesCompleteModelsUnderEitherSeparator) {
    TemporaryFolder folder;
    fs::path system = folder.path / "system", own = folder.path / "own";
    touch(system / "en-us/en-us/mdef");
    touch(system / "en-us/en-us.lm.bin");
    touch(system / "en-us/cmudict-en-us.dict");
    touch(own / "fr-FR/acoustic-model/mdef");
    touch(own / "fr-FR/language-model.lm");  // ARPA text is accepted too
    touch(own / "fr-FR/dictionary.dict");
    touch(own / "de_DE/acoustic-model/mdef");  // no language model, no dictionary
    touch(own / "de_DE/dictionary.dict");
    touch(own / ".hidden/acoustic-model/mdef");
    touch(own / "es_ES");  // a file, not a folder

    SpeechService custom(loop, ModelDirectories{system.string(), own.string()});
    auto locales = custom.supportedLocales();
    std::sort(locales.begin(), locales.end());
    EXPECT_EQ(locales, (std::vector<std::string>{"en_US", "fr_FR"}));

    auto french = custom.recognizer("fr-FR");
    ASSERT_NE(french, nullptr);
    EXPECT_EQ(french, custom.recognizer("fr_FR"));
    EXPECT_EQ(french->localeIdentifier(), "fr_FR");
    EXPECT_TRUE(french->supportsOnDeviceRecognition());
    ASSERT_NE(custom.recognizer("en-US"), nullptr);
    EXPECT_EQ(custom.recognizer("en-US")->localeIdentifier(), "en_US");
    EXPECT_EQ(custom.recognizer("de_DE"), nullptr);
    EXPECT_EQ(custom.recognizer("it_IT"), nullptr);
    EXPECT_TRUE(custom.canSetPunctuation());

    // A model in scrivia's own folder replaces the system's for its locale.
    touch(own / "en_US/acoustic-model/mdef");
    touch(own / "en_US/language-model.lm.bin");
    touch(own / "en_US/dictionary.dict");
    auto models = findModels(ModelDirectories{system.string(), own.string()});
    auto english = std::find_if(models.begin(), models.end(),
                                [](auto& m) { return m.localeIdentifier == "en_US"; });
    ASSERT_NE(english, models.end());
    EXPECT_EQ(english->files.dictionary, (own / "en_US/dictionary.dict").string());
}

TEST_F(SpeechServiceTest, BuiltInFoldersServeDebiansEnglishModel) {
    SpeechService builtIn(loop);
    auto locales = builtIn.supportedLocales();
    EXPECT_NE(std::find(locales.begin(), locales.end(), "en_US"), locales.end());
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

TEST_F(SpeechServiceTest, BrokenModelsAreUnavailableAndReportErrors) {
    TemporaryFolder folder;
    // A malformed acoustic model is turned away before PocketSphinx sees it.
    touch(folder.path / "xx_XX/acoustic-model/mdef");
    std::ofstream(folder.path / "xx_XX/acoustic-model/mdef") << "not a model";
    touch(folder.path / "xx_XX/language-model.lm.bin");
    touch(folder.path / "xx_XX/dictionary.dict");
    // A language model PocketSphinx refuses only once it tries to load it.
    fs::create_directories(folder.path / "yy_YY");
    fs::create_directory_symlink(kEnglish + "/en-us", folder.path / "yy_YY/acoustic-model");
    std::ofstream(folder.path / "yy_YY/language-model.lm.bin") << "garbage";
    fs::create_symlink(kEnglish + "/cmudict-en-us.dict", folder.path / "yy_YY/dictionary.dict");
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
        EXPECT_NE(delivery.errors[0].find(recognizer->localeIdentifier()), std::string::npos)
            << delivery.errors[0];
        EXPECT_TRUE(delivery.results.empty());
    }
}

TEST_F(SpeechServiceTest, DecodesResampledStereoLikePocketSphinx) {
    auto audio = librivox("0870");
    auto recognizer = englishRecognizer();
    Delivery delivery;
    auto req = request(true);
    auto task = recognizer->recognitionTask(req, delivery.handler());
    // The model is still loading while this arrives; none of it may be lost.
    feed48kStereo(*req, audio);
    req->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));
    loop.drain();

    EXPECT_TRUE(delivery.errors.empty());
    EXPECT_FALSE(delivery.offMainThread);
    ASSERT_GE(delivery.partials().size(), 2u);
    for (const auto& partial : delivery.partials()) {
        EXPECT_FALSE(partial.text.empty() ||
                     std::isupper(static_cast<unsigned char>(partial.text[0])))
            << partial.text;
    }
    ASSERT_TRUE(delivery.results.back().isFinal);
    EXPECT_EQ(delivery.results.size(), delivery.partials().size() + 1);
    const std::string& final = delivery.results.back().text;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(final.front()))) << final;
    EXPECT_EQ(final.back(), '.');
    EXPECT_GE(overlap(referenceWords(english(), {audio})[0], final), 0.8) << final;
}

TEST_F(SpeechServiceTest, KeepsAudioAppendedBeforeTheTaskOpens) {
    auto audio = librivox("0880");
    auto req = request(false);
    feed48kStereo(*req, audio);
    req->endAudio();
    Delivery delivery;
    auto task = englishRecognizer()->recognitionTask(req, delivery.handler());
    ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));
    ASSERT_EQ(delivery.results.size(), 1u);
    EXPECT_GE(overlap(referenceWords(english(), {audio})[0], delivery.results[0].text), 0.8)
        << delivery.results[0].text;
}

TEST_F(SpeechServiceTest, DecodesRequestsInOrderAndHonoursPunctuationSetting) {
    auto first = librivox("0880"), second = librivox("0930");
    auto recognizer = englishRecognizer();
    Delivery a, b;
    std::vector<char> finals;
    auto reqA = request(false), reqB = request(false, false);
    auto taskA = recognizer->recognitionTask(reqA, [&, h = a.handler()](auto r, auto e) {
        if (r && r->isFinal) finals.push_back('a');
        h(r, e);
    });
    auto taskB = recognizer->recognitionTask(reqB, [&, h = b.handler()](auto r, auto e) {
        if (r && r->isFinal) finals.push_back('b');
        h(r, e);
    });
    // The second request's audio is complete before the first's. At the
    // model's own rate nothing is resampled, so the text is exactly
    // PocketSphinx's.
    feed16kMono(*reqB, second);
    reqB->endAudio();
    feed16kMono(*reqA, first);
    reqA->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return a.done() && b.done(); }));
    EXPECT_EQ(finals, (std::vector<char>{'a', 'b'}));
    auto reference = referenceWords(english(), {first, second});
    EXPECT_EQ(a.results.back().text, formatSentence(joined(reference[0])));
    EXPECT_EQ(b.results.back().text, joined(reference[1]));
}

TEST_F(SpeechServiceTest, CancelledTaskDeliversNothingMore) {
    auto audio = librivox("0870");
    auto recognizer = englishRecognizer();
    auto req = request(true);
    Delivery cancelled;
    std::shared_ptr<RecognitionTask> task;
    auto record = cancelled.handler();
    task = recognizer->recognitionTask(req, [&](auto r, auto e) {
        record(r, e);
        task->cancel();  // from within its own handler, with more results likely queued
    });
    std::vector<std::int16_t> half(audio.begin(), audio.begin() + audio.size() / 2);
    feed48kStereo(*req, half);
    ASSERT_TRUE(loop.runUntil([&] { return cancelled.calls > 0; }));
    feed48kStereo(*req, audio);
    req->endAudio();

    // The worker moves on: a later request completes, after anything the
    // cancelled one could have produced.
    Delivery next;
    auto silence = request(true);
    auto nextTask = recognizer->recognitionTask(silence, next.handler());
    std::vector<std::int16_t> quiet(16000 * 2, 0);
    feed48kStereo(*silence, quiet);
    silence->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return next.done(); }));
    loop.drain();
    EXPECT_EQ(cancelled.calls, 1);

    // Silence gives one empty final and nothing else.
    ASSERT_EQ(next.results.size(), 1u);
    EXPECT_TRUE(next.results[0].isFinal);
    EXPECT_EQ(next.results[0].text, "");
    EXPECT_TRUE(next.errors.empty());
}

TEST_F(SpeechServiceTest, ModelsInScriviasFolderDecode) {
    // PocketSphinx's small digits model, laid out as a user would add one.
    const std::string digits = kData + "/tidigits";
    TemporaryFolder folder;
    fs::create_directories(folder.path / "en_GB");
    fs::create_directory_symlink(digits + "/hmm", folder.path / "en_GB/acoustic-model");
    fs::create_symlink(digits + "/lm/tidigits.lm.bin", folder.path / "en_GB/language-model.lm.bin");
    fs::create_symlink(digits + "/lm/tidigits.dic", folder.path / "en_GB/dictionary.dict");
    SpeechService custom(loop, ModelDirectories{"", folder.path.string()});
    auto audio = readSamples(digits + "/dhd.2934z.raw", 0);

    auto recognizer = custom.recognizer("en-GB");
    ASSERT_NE(recognizer, nullptr);
    Delivery delivery;
    auto req = custom.makeRequest();
    auto task = recognizer->recognitionTask(req, delivery.handler());
    feed16kMono(*req, audio);
    req->endAudio();
    ASSERT_TRUE(loop.runUntil([&] { return delivery.done(); }));
    ASSERT_TRUE(delivery.errors.empty()) << delivery.errors[0];
    ModelFiles files{digits + "/hmm", digits + "/lm/tidigits.lm.bin", digits + "/lm/tidigits.dic"};
    EXPECT_GE(overlap(referenceWords(files, {audio})[0], delivery.results.back().text), 0.6)
        << delivery.results.back().text;
}

}  // namespace
}  // namespace scrivia::platform::linux_
