// How fast PocketSphinx recognition runs through scrivia's speech service:
// model load time, real-time factor of decoding a recording, and what
// appending a microphone buffer costs the audio thread.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "platform/linux/speech/letter_to_sound.h"
#include "platform/linux/speech/speech_service.h"
#include "pumped_run_loop.h"
#include "support/recordings.h"

namespace {

using namespace scrivia::platform;
using namespace scrivia::platform::linux_;
using scrivia::bench::PumpedRunLoop;

const std::string kModel = "/usr/share/pocketsphinx/model/en-us";
const ModelFiles kEnglish{kModel + "/en-us", kModel + "/en-us.lm.bin",
                          kModel + "/cmudict-en-us.dict"};

// The recording as float channels at `rate` (a multiple of its 16 kHz).
std::vector<std::vector<float>> recording(int rate, int channels) {
    const auto samples = scrivia::testing::readWav(scrivia::testing::recordingPath("0870"));
    const int factor = rate / 16000;
    std::vector<std::vector<float>> result(static_cast<std::size_t>(channels));
    for (auto& channel : result) {
        for (std::int16_t s : samples) channel.insert(channel.end(), factor, s / 32768.0f);
    }
    return result;
}

void feed(RecognitionRequest& request, const std::vector<std::vector<float>>& audio, double rate,
          std::uint32_t frames) {
    std::vector<const float*> pointers(audio.size());
    for (std::size_t start = 0; start < audio[0].size(); start += frames) {
        for (std::size_t c = 0; c < audio.size(); ++c) pointers[c] = audio[c].data() + start;
        auto count =
            static_cast<std::uint32_t>(std::min<std::size_t>(frames, audio[0].size() - start));
        request.append(
            AudioBuffer{pointers.data(), count, static_cast<std::uint32_t>(audio.size()), rate});
    }
}

void BM_ModelLoad(benchmark::State& state) {
    PumpedRunLoop loop;
    for (auto _ : state) {
        SphinxRecognizer recognizer(loop, "en_US", kEnglish);
        if (!recognizer.waitUntilLoaded()) state.SkipWithError("the English model did not load");
    }
    state.counters["load_seconds"] = benchmark::Counter(
        1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ModelLoad)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// From the first buffer to the final result, with partial results on, for
// audio at the model's rate (arg 16000, mono) and from a typical microphone
// (48000, stereo, resampled).
void BM_DecodeRealTimeFactor(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int channels = rate == 16000 ? 1 : 2;
    const auto audio = recording(rate, channels);
    const double seconds = static_cast<double>(audio[0].size()) / rate;
    PumpedRunLoop loop;
    SphinxRecognizer recognizer(loop, "en_US", kEnglish);
    if (!recognizer.waitUntilLoaded()) state.SkipWithError("the English model did not load");
    std::size_t partials = 0;
    for (auto _ : state) {
        auto request = std::make_shared<SphinxRequest>();
        request->settings.shouldReportPartialResults = true;
        bool done = false;
        auto task = recognizer.recognitionTask(request, [&](auto result, auto error) {
            done = error || (result && result->isFinal);
            partials += result && !result->isFinal;
        });
        feed(*request, audio, rate, static_cast<std::uint32_t>(rate / 16000 * 683));
        request->endAudio();
        if (!loop.runUntil([&] { return done; })) state.SkipWithError("no final result");
    }
    state.counters["audio_seconds"] = seconds;
    // Seconds of decoding per second of audio: below 1 keeps ahead of speech.
    state.counters["real_time_factor"] =
        benchmark::Counter(seconds * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["partials"] =
        benchmark::Counter(static_cast<double>(partials), benchmark::Counter::kAvgIterations);
    // The process's peak resident memory so far: model, decoder and queued audio.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_mib"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_DecodeRealTimeFactor)
    ->Arg(16000)
    ->Arg(48000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One 2048-frame 48 kHz stereo buffer appended on the calling thread, to a
// request whose task is open on a working recogniser.
void BM_Append48kStereo2048(benchmark::State& state) {
    std::vector<float> left(2048, 0.01f), right(2048, -0.02f);
    const float* channels[2] = {left.data(), right.data()};
    const AudioBuffer buffer{channels, 2048, 2, 48000};
    PumpedRunLoop loop;
    SphinxRecognizer recognizer(loop, "en_US", kEnglish);
    recognizer.waitUntilLoaded();
    std::shared_ptr<SphinxRequest> request;
    std::shared_ptr<RecognitionTask> task;
    std::int64_t appended = 0;
    for (auto _ : state) {
        // A fresh request now and then, so the queue stays the size of a
        // short backlog rather than growing for the whole run.
        if (appended++ % 256 == 0) {
            state.PauseTiming();
            if (task) task->cancel();
            request = std::make_shared<SphinxRequest>();
            task = recognizer.recognitionTask(request, [](auto, auto) {});
            state.ResumeTiming();
        }
        request->append(buffer);
    }
    task->cancel();
    state.SetItemsProcessed(state.iterations() * 2048);
}
BENCHMARK(BM_Append48kStereo2048)->Unit(benchmark::kMicrosecond);

// Pronunciations for a words file of 2,000 made-up words that neither the
// dictionary nor flite's lexicon holds, so each goes through letter-to-sound.
void BM_LetterToSound2000Words(benchmark::State& state) {
    const char* syllables[] = {"ku", "ber", "nte", "siob", "hann", "dup", "zor", "quix"};
    std::string words;
    for (int i = 0; i < 2000; ++i) {
        int n = i;
        do words += syllables[n % 8];
        while ((n /= 8) > 0);
        words += ' ';
    }
    const LetterToSound letterToSound(modelPhones(kEnglish.acousticModel));
    for (auto _ : state) benchmark::DoNotOptimize(letterToSound.phonesFor(words));
    state.counters["seconds_per_2000_words"] = benchmark::Counter(
        1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LetterToSound2000Words)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
