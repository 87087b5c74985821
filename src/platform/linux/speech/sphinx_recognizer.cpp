#include "platform/linux/speech/sphinx_recognizer.h"

#include <atomic>
#include <condition_variable>
#include <deque>

#include "platform/linux/system/named_thread.h"
#include "platform/locale_identifier.h"

namespace scrivia::platform::linux_ {
namespace {

// "The speech model for en_US <what> from <its three files>."
std::string modelMessage(const std::string& locale, const ModelFiles& files, const char* what) {
    return "The speech model for " + locale + " " + what + " from " + files.acousticModel + ", " +
           files.languageModel + " and " + files.dictionary + ".";
}

}  // namespace

// What the recognition worker shares with the main thread and with the
// requests it decodes. Guarded by `mutex`.
struct WorkerState {
    enum class Load { idle, loading, ready, failed };

    Mutex mutex;
    std::condition_variable_any changed;
    // Counts wake-ups, so the worker misses none that come while it decodes.
    std::uint64_t generation SCRIVIA_GUARDED_BY(mutex) = 0;
    std::atomic<bool> stopping = false;  // set under the mutex; read without it mid-decode
    Load load SCRIVIA_GUARDED_BY(mutex) = Load::idle;
    std::string loadError SCRIVIA_GUARDED_BY(mutex);
    std::deque<std::shared_ptr<SphinxTask>> tasks SCRIVIA_GUARDED_BY(mutex);

    void notify() SCRIVIA_EXCLUDES(mutex) {
        {
            MutexLock lock(mutex);
            ++generation;
        }
        changed.notify_all();
    }
};

SphinxRecognizer::SphinxRecognizer(platform::RunLoop& mainLoop, std::string localeIdentifier,
                                   ModelFiles files, std::optional<ModelProbe> probe,
                                   MarkCheckConfig check, std::vector<WordEntry> ownWords)
    : mainLoop_(mainLoop),
      localeIdentifier_(std::move(localeIdentifier)),
      files_(std::move(files)),
      probe_(std::move(probe)),
      check_(check),
      ownWords_(std::move(ownWords)),
      state_(std::make_shared<WorkerState>()) {}

SphinxRecognizer::~SphinxRecognizer() {
    {
        MutexLock lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (worker_.joinable()) worker_.join();
    // Unfinished tasks deliver nothing more; their handlers go here, on the
    // thread that owned the recogniser.
    std::deque<std::shared_ptr<SphinxTask>> tasks;
    {
        MutexLock lock(state_->mutex);
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
    MutexLock lock(state_->mutex);
    return state_->load != WorkerState::Load::failed;
}

bool SphinxRecognizer::waitUntilLoaded() {
    startLoading();
    MutexLock lock(state_->mutex);
    while (state_->load != WorkerState::Load::ready && state_->load != WorkerState::Load::failed)
        state_->changed.wait(lock);
    return state_->load == WorkerState::Load::ready;
}

void SphinxRecognizer::startLoading() {
    {
        MutexLock lock(state_->mutex);
        if (state_->load != WorkerState::Load::idle) return;
    }
    // Only the main thread starts a load, so it stays idle meanwhile. The
    // checks run unlocked: the audio thread's wake-ups take the lock.
    std::optional<std::string> problem;
    if (auto trouble = problemWithModel(files_)) {
        problem = "The speech model for " + localeIdentifier_ + " cannot be used. " + *trouble;
    } else if (probe_ && !modelLoads(files_, *probe_)) {
        problem = modelMessage(localeIdentifier_, files_, "failed to load in a trial run");
    }
    MutexLock lock(state_->mutex);
    if (problem) {
        state_->load = WorkerState::Load::failed;
        state_->loadError = std::move(*problem);
        state_->changed.notify_all();
        return;
    }
    state_->load = WorkerState::Load::loading;
    worker_ = startNamedThread("recognition", [this] {
        platform::recognitionWorker.assertHeld();  // this thread is the worker
        work();
    });
}

WakeWorker SphinxRecognizer::waker() const {
    return [state = std::weak_ptr<WorkerState>(state_)] {
        if (auto worker = state.lock()) worker->notify();
    };
}

std::shared_ptr<RecognitionTask> SphinxRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
    auto sphinxRequest = std::dynamic_pointer_cast<SphinxRequest>(request);
    if (!sphinxRequest) {
        // Not one of ours: it cannot be decoded, but the handler still hears why.
        sphinxRequest = std::make_shared<SphinxRequest>();
        sphinxRequest->settings = request ? request->settings : RequestSettings{};
        auto task = std::make_shared<SphinxTask>(sphinxRequest, std::move(handler), waker());
        task->deliver(mainLoop_, std::nullopt,
                      Error{"The request was not made by the speech service."}, true);
        return task;
    }
    auto task = std::make_shared<SphinxTask>(sphinxRequest, std::move(handler), waker());
    if (!sphinxRequest->attach(waker())) {
        task->deliver(mainLoop_, std::nullopt,
                      Error{"The request is already being recognised by another task."}, true);
        return task;
    }
    startLoading();
    {
        MutexLock lock(state_->mutex);
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
    load();
    std::uint64_t seen = 0;
    for (;;) {
        std::shared_ptr<SphinxTask> head;
        {
            MutexLock lock(state_->mutex);
            while (!state_->stopping && state_->generation == seen) state_->changed.wait(lock);
            if (state_->stopping) break;
            seen = state_->generation;
            if (!state_->tasks.empty()) head = state_->tasks.front();
        }
        if (!head || !serve(*head)) continue;
        {
            MutexLock lock(state_->mutex);
            if (!state_->tasks.empty() && state_->tasks.front() == head) state_->tasks.pop_front();
            // Look at the next task without waiting for news of it.
            ++state_->generation;
        }
    }
    decoder_.reset();
}

void SphinxRecognizer::load() {
    const std::string_view language = localeParts(localeIdentifier_).language;
    decoder_ = UtteranceDecoder::load(files_, formatting::rulesFor(language), check_, ownWords_);
    if (decoder_) {
        converter_.emplace(decoder_->sampleRate());
        // Read here, once per model and never on the audio thread: the word
        // list takes a few milliseconds and megabytes.
        const std::string namesPath = formatting::Formatter::nameListPath(language);
        auto names = namesPath.empty() ? nullptr : formatting::loadNameList(namesPath);
        std::vector<std::string> spellings;
        for (const WordEntry& entry : ownWords_) spellings.push_back(entry.written);
        punctuated_.emplace(language, names, formatting::FormatterConfig{.ownWords = spellings});
        plain_.emplace(language, names,
                       formatting::FormatterConfig{.punctuation = false, .ownWords = spellings});
    }
    {
        MutexLock lock(state_->mutex);
        if (decoder_) {
            state_->load = WorkerState::Load::ready;
        } else {
            state_->load = WorkerState::Load::failed;
            state_->loadError = modelMessage(localeIdentifier_, files_, "could not be loaded");
        }
        ++state_->generation;
    }
    state_->changed.notify_all();
}

bool SphinxRecognizer::serve(SphinxTask& task) {
    if (!decoder_) {
        std::string error;
        {
            MutexLock lock(state_->mutex);
            error = state_->loadError;
        }
        task.deliver(mainLoop_, std::nullopt, Error{error}, true);
        return true;
    }
    if (task.cancelled.load()) {
        closeUtterance();
        return true;
    }
    SphinxRequest::Pending pending = task.request->take();
    if (!decoder_->listening() && !decoder_->start()) {
        return fail(task, "Speech recognition could not start.");
    }
    for (const AudioChunk& chunk : pending.chunks) {
        if (task.cancelled.load() || state_->stopping.load()) break;
        std::string problem;
        if (!converter_->convert(chunk, samples_, problem)) return fail(task, problem);
        if (!decode(task)) return true;
    }
    if (task.cancelled.load()) {
        closeUtterance();
        return true;
    }
    if (!pending.ended || state_->stopping.load()) return false;
    converter_->finish(samples_);
    if (!decode(task)) return true;
    std::string text = formatted(task, decoder_->finish(), formatting::TextKind::final);
    if (task.punctuates && !text.empty())
        continuesSentence_ = punctuated_->leavesSentenceOpen(text);
    task.deliver(mainLoop_, RecognitionResult{std::move(text), true}, std::nullopt, true);
    return true;
}

bool SphinxRecognizer::decode(SphinxTask& task) {
    if (!decoder_->feed(samples_)) {
        fail(task, "Speech recognition failed while decoding audio.");
        return false;
    }
    samples_.clear();
    if (!task.reportsPartialResults) return true;
    if (auto words = decoder_->changedPartial()) {
        std::string text = formatted(task, *words, formatting::TextKind::partial);
        task.deliver(mainLoop_, RecognitionResult{std::move(text), false}, std::nullopt, false);
    }
    return true;
}

bool SphinxRecognizer::fail(SphinxTask& task, std::string description) {
    closeUtterance();
    task.deliver(mainLoop_, std::nullopt, Error{std::move(description)}, true);
    return true;
}

std::string SphinxRecognizer::formatted(const SphinxTask& task, std::string_view words,
                                        formatting::TextKind kind) {
    if (!task.punctuates) return plain_->format(words, kind);
    return punctuated_->format(words, kind, continuesSentence_);
}

void SphinxRecognizer::closeUtterance() {
    decoder_->abandon();
    converter_->finish(samples_);
    samples_.clear();
}

}  // namespace scrivia::platform::linux_
