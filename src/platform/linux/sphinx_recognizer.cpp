#include "platform/linux/sphinx_recognizer.h"

#include <pocketsphinx.h>
#include <pthread.h>
#include <soxr.h>
#include <sphinxbase/err.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <fstream>

#include "platform/linux/sphinx_text.h"

namespace scrivia::platform::linux_ {

class SphinxTask;

// What the recognition worker shares with the main thread and with the
// requests it decodes. Guarded by `mutex`.
struct WorkerState {
    enum class Load { idle, loading, ready, failed };

    std::mutex mutex;
    std::condition_variable changed;
    // Counts wake-ups, so the worker misses none that come while it decodes.
    std::uint64_t generation = 0;
    bool stopping = false;
    Load load = Load::idle;
    std::string loadError;
    std::deque<std::shared_ptr<SphinxTask>> tasks;

    void notify() {
        {
            std::lock_guard lock(mutex);
            ++generation;
        }
        changed.notify_all();
    }
};

namespace {

// ---------------------------------------------------------------------------
// Model files
// ---------------------------------------------------------------------------

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isReadableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
           ::access(path.c_str(), R_OK) == 0;
}

std::string firstBytes(const std::string& path, std::size_t count) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

// A model definition is binary (magic "BMDF", either byte order) or text
// starting with its format version after any comment lines.
bool looksLikeModelDefinition(const std::string& path) {
    std::string head = firstBytes(path, 4096);
    if (head.starts_with("BMDF") || head.starts_with("FDMB")) return true;
    std::size_t i = 0;
    while (i < head.size()) {
        if (head[i] == '#') {
            std::size_t end = head.find('\n', i);
            if (end == std::string::npos) return false;
            i = end + 1;
        } else if (std::isspace(static_cast<unsigned char>(head[i]))) {
            ++i;
        } else {
            return head.compare(i, 3, "0.3") == 0;
        }
    }
    return false;
}

// Gaussian parameters and transition matrices are "s3" binary files.
bool looksLikeParameterFile(const std::string& path) {
    return firstBytes(path, 3) == "s3\n";
}

}  // namespace

std::optional<std::string> problemWithModel(const ModelFiles& files) {
    const std::string& am = files.acousticModel;
    if (!isDirectory(am)) return "The acoustic model folder " + am + " is missing.";
    if (!isReadableFile(am + "/mdef") || !looksLikeModelDefinition(am + "/mdef")) {
        return "The acoustic model in " + am + " has no readable model definition (mdef).";
    }
    for (const char* name : {"means", "variances", "transition_matrices"}) {
        std::string path = am + "/" + name;
        if (!isReadableFile(path) || !looksLikeParameterFile(path)) {
            return "The acoustic model in " + am + " has no readable " + name + " file.";
        }
    }
    if (!isReadableFile(am + "/sendump") && !isReadableFile(am + "/mixture_weights")) {
        return "The acoustic model in " + am + " has no readable mixture weights.";
    }
    if (!isReadableFile(files.languageModel)) {
        return "The language model " + files.languageModel + " is missing or unreadable.";
    }
    if (!isReadableFile(files.dictionary)) {
        return "The dictionary " + files.dictionary + " is missing or unreadable.";
    }
    return std::nullopt;
}

void silenceSphinxLogging() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

// ---------------------------------------------------------------------------
// Requests
// ---------------------------------------------------------------------------

void SphinxRequest::append(const AudioBuffer& buffer) {
    if (buffer.floatChannelData == nullptr || buffer.frameLength == 0 || buffer.channelCount == 0 ||
        !std::isfinite(buffer.sampleRate) || buffer.sampleRate <= 0) {
        return;
    }
    // The decoder hears one channel: the average of all of them.
    AudioChunk chunk;
    chunk.sampleRate = buffer.sampleRate;
    chunk.samples.assign(buffer.floatChannelData[0],
                         buffer.floatChannelData[0] + buffer.frameLength);
    for (std::uint32_t c = 1; c < buffer.channelCount; ++c) {
        const float* channel = buffer.floatChannelData[c];
        for (std::uint32_t i = 0; i < buffer.frameLength; ++i) chunk.samples[i] += channel[i];
    }
    const float scale = 1.0f / static_cast<float>(buffer.channelCount);
    for (float& sample : chunk.samples) {
        // A stray NaN would poison the resampler's filter for the rest of the request.
        sample = std::isfinite(sample) ? sample * scale : 0.0f;
    }

    std::shared_ptr<WorkerState> worker;
    {
        std::lock_guard lock(mutex_);
        if (ended_ || discarded_) return;
        chunks_.push_back(std::move(chunk));
        worker = worker_.lock();
    }
    if (worker) worker->notify();
}

void SphinxRequest::endAudio() {
    std::shared_ptr<WorkerState> worker;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        worker = worker_.lock();
    }
    if (worker) worker->notify();
}

SphinxRequest::Pending SphinxRequest::take() {
    std::lock_guard lock(mutex_);
    Pending pending;
    pending.chunks.swap(chunks_);
    pending.ended = ended_;
    return pending;
}

bool SphinxRequest::attach(std::weak_ptr<WorkerState> worker) {
    std::lock_guard lock(mutex_);
    if (attached_) return false;
    attached_ = true;
    worker_ = std::move(worker);
    return true;
}

void SphinxRequest::discard() {
    std::lock_guard lock(mutex_);
    discarded_ = true;
    chunks_.clear();
}

// ---------------------------------------------------------------------------
// Tasks
// ---------------------------------------------------------------------------

class SphinxTask final : public RecognitionTask, public std::enable_shared_from_this<SphinxTask> {
  public:
    SphinxTask(std::shared_ptr<SphinxRequest> request, ResultHandler handler,
               std::weak_ptr<WorkerState> worker)
        : request(std::move(request)),
          reportsPartialResults(this->request->settings.shouldReportPartialResults),
          punctuates(this->request->settings.addsPunctuation.value_or(true)),
          worker_(std::move(worker)),
          handler_(std::move(handler)) {}

    void cancel() override {
        cancelled.store(true);
        request->discard();
        ResultHandler released;
        {
            std::lock_guard lock(handlerMutex_);
            released.swap(handler_);
        }
        if (auto worker = worker_.lock()) worker->notify();
    }

    // Runs `handler` with a result or an error on the main thread, unless the
    // task is cancelled by then. After the last delivery the handler is let go.
    void deliver(platform::RunLoop& loop, std::optional<RecognitionResult> result,
                 std::optional<Error> error, bool last) {
        loop.post([self = shared_from_this(), result = std::move(result), error = std::move(error),
                   last] {
            if (self->cancelled.load()) return;
            ResultHandler handler;
            {
                std::lock_guard lock(self->handlerMutex_);
                // A copy, so the handler may cancel the task while it runs.
                if (last) {
                    handler.swap(self->handler_);
                } else {
                    handler = self->handler_;
                }
            }
            if (handler) handler(result, error);
        });
    }

    const std::shared_ptr<SphinxRequest> request;
    const bool reportsPartialResults;
    const bool punctuates;
    std::atomic<bool> cancelled{false};

  private:
    const std::weak_ptr<WorkerState> worker_;
    std::mutex handlerMutex_;
    ResultHandler handler_;
};

namespace {

// ---------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------

// Turns mono float chunks at any rate into 16-bit samples at the decoder's rate.
class SampleConverter {
  public:
    explicit SampleConverter(double outputRate) : outputRate_(outputRate) {}
    ~SampleConverter() { closeResampler(); }
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;

    // Appends `chunk` to `out`; false (and an explanation) when it cannot.
    bool convert(const AudioChunk& chunk, std::vector<std::int16_t>& out, std::string& problem) {
        if (chunk.sampleRate != inputRate_) {
            finish(out);
            inputRate_ = chunk.sampleRate;
            if (inputRate_ != outputRate_) {
                soxr_error_t error = nullptr;
                soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
                soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
                soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
                resampler_ =
                    soxr_create(inputRate_, outputRate_, 1, &error, &io, &quality, &runtime);
                if (error != nullptr || resampler_ == nullptr) {
                    problem = "Audio at " + std::to_string(static_cast<long>(inputRate_)) +
                              " Hz cannot be converted for recognition: " + soxr_strerror(error) +
                              ".";
                    closeResampler();
                    inputRate_ = 0;
                    return false;
                }
            }
        }
        if (resampler_ == nullptr) {
            appendSamples(chunk.samples.data(), chunk.samples.size(), out);
            return true;
        }
        const float* input = chunk.samples.data();
        std::size_t remaining = chunk.samples.size();
        while (remaining > 0) {
            scratch_.resize(static_cast<std::size_t>(static_cast<double>(remaining) * outputRate_ /
                                                     inputRate_) +
                            64);
            std::size_t used = 0;
            std::size_t produced = 0;
            soxr_error_t error = soxr_process(resampler_, input, remaining, &used, scratch_.data(),
                                              scratch_.size(), &produced);
            if (error != nullptr) {
                problem = std::string("Audio could not be resampled: ") + error + ".";
                return false;
            }
            appendSamples(scratch_.data(), produced, out);
            if (used == 0 && produced == 0) break;
            input += used;
            remaining -= used;
        }
        return true;
    }

    // Appends what the resampler still holds, and starts afresh.
    void finish(std::vector<std::int16_t>& out) {
        if (resampler_ != nullptr) {
            scratch_.resize(4096);
            for (;;) {
                std::size_t produced = 0;
                if (soxr_process(resampler_, nullptr, 0, nullptr, scratch_.data(), scratch_.size(),
                                 &produced) != nullptr) {
                    break;
                }
                appendSamples(scratch_.data(), produced, out);
                if (produced < scratch_.size()) break;
            }
        }
        closeResampler();
        inputRate_ = 0;
    }

  private:
    static void appendSamples(const float* samples, std::size_t count,
                              std::vector<std::int16_t>& out) {
        out.reserve(out.size() + count);
        for (std::size_t i = 0; i < count; ++i) {
            float scaled = std::clamp(samples[i] * 32768.0f, -32768.0f, 32767.0f);
            out.push_back(static_cast<std::int16_t>(std::lrint(scaled)));
        }
    }

    void closeResampler() {
        if (resampler_ != nullptr) soxr_delete(resampler_);
        resampler_ = nullptr;
    }

    const double outputRate_;
    double inputRate_ = 0;
    soxr_t resampler_ = nullptr;
    std::vector<float> scratch_;
};

struct DecoderDeleter {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};
struct ConfigDeleter {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};
using DecoderPointer = std::unique_ptr<ps_decoder_t, DecoderDeleter>;
using ConfigPointer = std::unique_ptr<cmd_ln_t, ConfigDeleter>;

DecoderPointer loadDecoder(const ModelFiles& files) {
    silenceSphinxLogging();
    ConfigPointer config(cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", files.acousticModel.c_str(),
                                     "-lm", files.languageModel.c_str(), "-dict",
                                     files.dictionary.c_str(), nullptr));
    if (!config) return nullptr;
    // The decoder keeps its own reference to the configuration.
    return DecoderPointer(ps_init(config.get()));
}

std::string hypothesis(ps_decoder_t* decoder) {
    std::int32_t score = 0;
    const char* words = ps_get_hyp(decoder, &score);
    return words == nullptr ? std::string() : cleanHypothesis(words);
}

}  // namespace

// ---------------------------------------------------------------------------
// The recogniser
// ---------------------------------------------------------------------------

SphinxRecognizer::SphinxRecognizer(platform::RunLoop& mainLoop, std::string localeIdentifier,
                                   ModelFiles files)
    : mainLoop_(mainLoop),
      localeIdentifier_(std::move(localeIdentifier)),
      files_(std::move(files)),
      state_(std::make_shared<WorkerState>()) {}

SphinxRecognizer::~SphinxRecognizer() {
    stopping_.store(true);
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (worker_.joinable()) worker_.join();
    // Unfinished tasks deliver nothing more; their handlers go here, on the
    // thread that owned the recogniser.
    std::deque<std::shared_ptr<SphinxTask>> tasks;
    {
        std::lock_guard lock(state_->mutex);
        tasks.swap(state_->tasks);
    }
}

std::string SphinxRecognizer::localeIdentifier() {
    return localeIdentifier_;
}

bool SphinxRecognizer::supportsOnDeviceRecognition() {
    return true;
}

bool SphinxRecognizer::isAvailable() {
    startLoading();
    std::lock_guard lock(state_->mutex);
    return state_->load != WorkerState::Load::failed;
}

bool SphinxRecognizer::waitUntilLoaded() {
    startLoading();
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] {
        return state_->load == WorkerState::Load::ready ||
               state_->load == WorkerState::Load::failed;
    });
    return state_->load == WorkerState::Load::ready;
}

void SphinxRecognizer::startLoading() {
    std::lock_guard lock(state_->mutex);
    if (state_->load != WorkerState::Load::idle) return;
    if (auto problem = problemWithModel(files_)) {
        state_->load = WorkerState::Load::failed;
        state_->loadError =
            "The speech model for " + localeIdentifier_ + " cannot be used. " + *problem;
        state_->changed.notify_all();
        return;
    }
    state_->load = WorkerState::Load::loading;
    worker_ = std::thread([this] { work(); });
}

std::shared_ptr<RecognitionTask> SphinxRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
    auto sphinxRequest = std::dynamic_pointer_cast<SphinxRequest>(request);
    if (!sphinxRequest) {
        // Not one of ours: it cannot be decoded, but the handler still hears why.
        sphinxRequest = std::make_shared<SphinxRequest>();
        sphinxRequest->settings = request ? request->settings : RequestSettings{};
        auto task = std::make_shared<SphinxTask>(sphinxRequest, std::move(handler), state_);
        task->deliver(mainLoop_, std::nullopt,
                      Error{"The request was not made by the speech service."}, true);
        return task;
    }
    auto task = std::make_shared<SphinxTask>(sphinxRequest, std::move(handler), state_);
    if (!sphinxRequest->attach(state_)) {
        task->deliver(mainLoop_, std::nullopt,
                      Error{"The request is already being recognised by another task."}, true);
        return task;
    }
    startLoading();
    {
        std::lock_guard lock(state_->mutex);
        if (state_->load == WorkerState::Load::failed) {
            task->deliver(mainLoop_, std::nullopt, Error{state_->loadError}, true);
            return task;
        }
        state_->tasks.push_back(task);
    }
    state_->notify();
    return task;
}

void SphinxRecognizer::work() {
    pthread_setname_np(pthread_self(), "recognition");

    DecoderPointer decoder = loadDecoder(files_);
    double modelRate = 16000;
    {
        std::lock_guard lock(state_->mutex);
        if (decoder) {
            modelRate = cmd_ln_float_r(ps_get_config(decoder.get()), "-samprate");
            state_->load = WorkerState::Load::ready;
        } else {
            state_->load = WorkerState::Load::failed;
            state_->loadError = "The speech model for " + localeIdentifier_ +
                                " could not be loaded from " + files_.acousticModel + ", " +
                                files_.languageModel + " and " + files_.dictionary + ".";
        }
        ++state_->generation;
    }
    state_->changed.notify_all();

    // The utterance of the task at the head of the queue, if one is open.
    bool inUtterance = false;
    std::string lastPartial;
    SampleConverter converter(modelRate);
    std::vector<std::int16_t> samples;

    auto closeUtterance = [&] {
        if (inUtterance) ps_end_utt(decoder.get());
        inUtterance = false;
        lastPartial.clear();
        samples.clear();
        converter.finish(samples);
        samples.clear();
    };
    auto fail = [&](const std::shared_ptr<SphinxTask>& task, std::string description) {
        closeUtterance();
        task->deliver(mainLoop_, std::nullopt, Error{std::move(description)}, true);
    };
    auto decode = [&](const std::shared_ptr<SphinxTask>& task) -> bool {
        if (ps_process_raw(decoder.get(), samples.data(), samples.size(), FALSE, FALSE) < 0) {
            fail(task, "Speech recognition failed while decoding audio.");
            return false;
        }
        samples.clear();
        if (task->reportsPartialResults) {
            std::string text = hypothesis(decoder.get());
            if (text != lastPartial) {
                lastPartial = text;
                task->deliver(mainLoop_, RecognitionResult{text, false}, std::nullopt, false);
            }
        }
        return true;
    };
    // Decodes what the task has received; true once the task is done with.
    auto serve = [&](const std::shared_ptr<SphinxTask>& task) -> bool {
        if (!decoder) {
            std::string error;
            {
                std::lock_guard lock(state_->mutex);
                error = state_->loadError;
            }
            task->deliver(mainLoop_, std::nullopt, Error{error}, true);
            return true;
        }
        if (task->cancelled.load()) {
            closeUtterance();
            return true;
        }
        SphinxRequest::Pending pending = task->request->take();
        if (!inUtterance) {
            if (ps_start_utt(decoder.get()) < 0) {
                fail(task, "Speech recognition could not start.");
                return true;
            }
            inUtterance = true;
        }
        for (const AudioChunk& chunk : pending.chunks) {
            if (task->cancelled.load() || stopping_.load()) break;
            std::string problem;
            if (!converter.convert(chunk, samples, problem)) {
                fail(task, problem);
                return true;
            }
            if (!decode(task)) return true;
        }
        if (task->cancelled.load()) {
            closeUtterance();
            return true;
        }
        if (!pending.ended || stopping_.load()) return false;
        converter.finish(samples);
        if (!decode(task)) return true;
        ps_end_utt(decoder.get());
        inUtterance = false;
        lastPartial.clear();
        std::string text = hypothesis(decoder.get());
        if (task->punctuates) text = formatSentence(text);
        task->deliver(mainLoop_, RecognitionResult{std::move(text), true}, std::nullopt, true);
        return true;
    };

    std::uint64_t seen = 0;
    for (;;) {
        std::shared_ptr<SphinxTask> head;
        {
            std::unique_lock lock(state_->mutex);
            state_->changed.wait(lock,
                                 [&] { return state_->stopping || state_->generation != seen; });
            if (state_->stopping) break;
            seen = state_->generation;
            if (!state_->tasks.empty()) head = state_->tasks.front();
        }
        if (!head || !serve(head)) continue;
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->tasks.empty() && state_->tasks.front() == head) state_->tasks.pop_front();
            // Look at the next task without waiting for news of it.
            ++state_->generation;
        }
    }
    if (inUtterance) ps_end_utt(decoder.get());
}

}  // namespace scrivia::platform::linux_
