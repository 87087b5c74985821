#include "sim/sim_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace scrivia::sim {

namespace {

// Sums of doubles land a hair either side of the instant a test means; a
// billionth of a second is far below anything the program measures.
constexpr double kEpsilon = 1e-9;

// Beyond this many tasks at one instant the code under test is spinning
// (a task that keeps posting itself); fail rather than hang.
constexpr std::size_t kRunawayLimit = 1'000'000;

void nameThisThread(const std::string& name) {
    // Linux keeps 15 characters of a thread name.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Runs `work` on a real thread named `name`, joins it and rethrows what it threw.
void onOtherThread(const std::string& name, const std::function<void()>& work) {
    std::exception_ptr failure;
    std::thread thread([&] {
        nameThisThread(name);
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

// ---------------------------------------------------------------------------
// SimRunLoop
// ---------------------------------------------------------------------------

SimRunLoop::SimRunLoop(SimClock& clock) : clock_(clock) {}

void SimRunLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
    }
    posted_.notify_all();
}

void SimRunLoop::postAfter(double seconds, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        timed_.push_back(
            Timed{clock_.now(), std::max(seconds, 0.0), 1, nextOrder_++, false, std::move(task)});
    }
    posted_.notify_all();
}

void SimRunLoop::scheduleRepeating(double interval, std::function<void()> block) {
    // A timer that is always due would make runDue spin forever.
    if (!(interval > 0)) throw std::invalid_argument("repeating interval must be positive");
    std::lock_guard lock(mutex_);
    timed_.push_back(Timed{clock_.now(), interval, 1, nextOrder_++, true, std::move(block)});
}

void SimRunLoop::run() {
    runDue();
}

std::function<void()> SimRunLoop::takeDue() {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        auto task = std::move(queue_.front());
        queue_.pop_front();
        return task;
    }
    const double now = clock_.now();
    auto next = timed_.end();
    for (auto it = timed_.begin(); it != timed_.end(); ++it) {
        if (it->due() > now + kEpsilon) continue;
        if (next == timed_.end() || it->due() < next->due() ||
            (it->due() == next->due() && it->order < next->order)) {
            next = it;
        }
    }
    if (next == timed_.end()) return {};
    if (!next->repeating) {
        auto task = std::move(next->task);
        timed_.erase(next);
        return task;
    }
    // Reschedule before the block runs, so that a block that throws (an exit)
    // leaves the timer in place; the copy runs the block this once.
    ++next->ticks;
    next->order = nextOrder_++;
    return next->task;
}

void SimRunLoop::runDue() {
    runDueBounded();
}

bool SimRunLoop::runDueBounded() {
    for (std::size_t ran = 0;; ++ran) {
        if (ran == kRunawayLimit) {
            ADD_FAILURE() << "run loop: more than " << kRunawayLimit
                          << " tasks due at one instant; giving up";
            return false;
        }
        auto task = takeDue();
        if (!task) return true;
        task();
    }
}

std::optional<double> SimRunLoop::nextDue() const {
    std::lock_guard lock(mutex_);
    std::optional<double> earliest;
    for (const auto& timed : timed_) {
        if (!earliest || timed.due() < *earliest) earliest = timed.due();
    }
    return earliest;
}

void SimRunLoop::advance(double seconds) {
    const double end = clock_.now() + std::max(seconds, 0.0);
    if (!runDueBounded()) return;
    for (;;) {
        auto due = nextDue();
        if (!due || *due > end + kEpsilon) break;
        // Never backwards: something overdue runs at the current time.
        clock_.set(std::max(clock_.now(), std::min(*due, end)));
        if (!runDueBounded()) return;
    }
    clock_.set(std::max(clock_.now(), end));
    runDue();
}

bool SimRunLoop::anythingDueLocked() const {
    if (!queue_.empty()) return true;
    const double now = clock_.now();
    return std::any_of(timed_.begin(), timed_.end(),
                       [&](const Timed& timed) { return timed.due() <= now + kEpsilon; });
}

bool SimRunLoop::waitForPost(double realSecondsMax) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, std::chrono::duration<double>(realSecondsMax),
                            [&] { return anythingDueLocked(); });
}

std::size_t SimRunLoop::pendingTasks() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + timed_.size();
}

// ---------------------------------------------------------------------------
// SimProcess
// ---------------------------------------------------------------------------

SimProcess::SimProcess() {
    stdout_ = memfd_create("scrivia-stdout", MFD_CLOEXEC);
    if (stdout_ < 0) throwErrno("memfd_create");
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        close(stdout_);
        throwErrno("pipe2");
    }
    stdinRead_ = fds[0];
    stdinWrite_ = fds[1];
}

SimProcess::~SimProcess() {
    // End of input lets a reader blocked in read() finish.
    closeStdin();
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        if (threads.empty()) break;
        for (auto& thread : threads) thread.join();
    }
    close(stdinRead_);
    close(stdout_);
}

void SimProcess::runInBackground(const std::string& name, std::function<void()> work) {
    std::thread thread([name, work = std::move(work)] {
        nameThisThread(name);
        try {
            work();
        } catch (const ExitCalled&) {
            // Recorded by exit(); a real exit would have ended everything.
        } catch (const std::exception& e) {
            ADD_FAILURE() << "background thread \"" << name << "\" threw: " << e.what();
        }
    });
    std::lock_guard lock(mutex_);
    threads_.push_back(std::move(thread));
}

void SimProcess::exit(int status) {
    {
        std::lock_guard lock(mutex_);
        exitStatus = status;
    }
    throw ExitCalled{status};
}

std::string SimProcess::rawOutput() {
    std::string out;
    char chunk[4096];
    for (;;) {
        const ssize_t n = pread(stdout_, chunk, sizeof chunk, static_cast<off_t>(out.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("pread");
        }
        if (n == 0) return out;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> SimProcess::outputLines() {
    const std::string out = rawOutput();
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = out.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(out.substr(begin, end - begin));
    }
    return lines;
}

void SimProcess::writeStdin(const std::string& bytes) {
    std::lock_guard lock(stdinMutex_);
    if (stdinWrite_ < 0) throw std::logic_error("writeStdin after closeStdin");
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(stdinWrite_, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("write to stdin pipe");
        }
        written += static_cast<std::size_t>(n);
    }
}

void SimProcess::closeStdin() {
    std::lock_guard lock(stdinMutex_);
    if (stdinWrite_ >= 0) close(stdinWrite_);
    stdinWrite_ = -1;
}

// ---------------------------------------------------------------------------
// Recognition
// ---------------------------------------------------------------------------

void SimRequest::append(const platform::AudioBuffer& buffer) {
    std::lock_guard lock(mutex_);
    ++buffers_;
    frames_ += buffer.frameLength;
    if (ended_) ++afterEnd_;
    lastSampleRate_ = buffer.sampleRate;
    if (buffer.floatChannelData != nullptr && buffer.channelCount > 0) {
        const float* channel = buffer.floatChannelData[0];
        samples_.insert(samples_.end(), channel, channel + buffer.frameLength);
    }
}

void SimRequest::endAudio() {
    std::lock_guard lock(mutex_);
    ended_ = true;
}

std::size_t SimRequest::appendedBuffers() const {
    std::lock_guard lock(mutex_);
    return buffers_;
}

std::size_t SimRequest::appendedFrames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

bool SimRequest::audioEnded() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

std::size_t SimRequest::appendedAfterEnd() const {
    std::lock_guard lock(mutex_);
    return afterEnd_;
}

std::vector<float> SimRequest::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

double SimRequest::lastSampleRate() const {
    std::lock_guard lock(mutex_);
    return lastSampleRate_;
}

void SimTask::partial(const std::string& text) {
    deliver(platform::RecognitionResult{text, false}, std::nullopt);
}

void SimTask::final(const std::string& text) {
    deliver(platform::RecognitionResult{text, true}, std::nullopt);
}

void SimTask::error(const std::string& description) {
    deliver(std::nullopt, platform::Error{description});
}

void SimTask::deliver(std::optional<platform::RecognitionResult> result,
                      std::optional<platform::Error> error) {
    if (!handler) {
        ADD_FAILURE() << "task has no result handler";
        return;
    }
    // A copy, so that the handler may drop the task that holds it.
    auto call = handler;
    call(std::move(result), std::move(error));
}

bool SimRecognizer::isAvailable() {
    ++availabilityAsked;
    return available;
}

std::shared_ptr<platform::RecognitionTask> SimRecognizer::recognitionTask(
    std::shared_ptr<platform::RecognitionRequest> request, platform::ResultHandler handler) {
    auto task = std::make_shared<SimTask>();
    task->request = std::dynamic_pointer_cast<SimRequest>(request);
    if (!task->request) ADD_FAILURE() << "task opened on a request the speech service did not make";
    if (request) task->settingsAtOpen = request->settings;
    task->handler = std::move(handler);
    tasks.push_back(task);
    return task;
}

std::shared_ptr<SimTask> SimRecognizer::lastTask() const {
    return tasks.empty() ? nullptr : tasks.back();
}

std::shared_ptr<platform::SpeechRecognizer> SimSpeechService::recognizer(
    const std::string& identifier) {
    asked.push_back(identifier);
    auto found = served.find(identifier);
    if (found == served.end()) return nullptr;
    return found->second;
}

void SimSpeechService::requestAuthorization(
    std::function<void(platform::AuthorizationStatus)> handler) {
    std::lock_guard lock(mutex_);
    ++authorizationRequests_;
    authorizationHandler_ = std::move(handler);
}

std::shared_ptr<platform::RecognitionRequest> SimSpeechService::makeRequest() {
    auto request = std::make_shared<SimRequest>();
    requests.push_back(request);
    return request;
}

bool SimSpeechService::authorizationRequested() const {
    return authorizationRequests() > 0;
}

int SimSpeechService::authorizationRequests() const {
    std::lock_guard lock(mutex_);
    return authorizationRequests_;
}

void SimSpeechService::answerAuthorization(platform::AuthorizationStatus status) {
    std::function<void(platform::AuthorizationStatus)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = std::exchange(authorizationHandler_, nullptr);
    }
    if (!handler) {
        ADD_FAILURE() << "no authorisation request to answer";
        return;
    }
    onOtherThread("authorization", [&] { handler(status); });
}

std::shared_ptr<SimRecognizer> SimSpeechService::serve(const std::string& id, bool onDevice,
                                                       bool available) {
    auto recognizer = std::make_shared<SimRecognizer>();
    recognizer->identifier = id;
    recognizer->onDevice = onDevice;
    recognizer->available = available;
    served[id] = recognizer;
    if (std::find(locales.begin(), locales.end(), id) == locales.end()) locales.push_back(id);
    return recognizer;
}

// ---------------------------------------------------------------------------
// Audio
// ---------------------------------------------------------------------------

SimEngine::~SimEngine() {
    std::lock_guard lock(service_.tapMutex_);
    if (service_.tapOwner_ == this) {
        service_.tap_ = nullptr;
        service_.tapOwner_ = nullptr;
    }
    if (service_.runningEngine_ == this) service_.runningEngine_ = nullptr;
}

platform::AudioFormat SimEngine::inputFormat() {
    service_.record("inputFormat");
    return service_.format;
}

void SimEngine::installTap(std::uint32_t bufferSize, platform::AudioFormat format,
                           platform::TapBlock block) {
    service_.record("installTap");
    service_.tapBufferSize = bufferSize;
    service_.tapFormat = format;
    std::lock_guard lock(service_.tapMutex_);
    service_.tap_ = std::move(block);
    service_.tapOwner_ = this;
}

void SimEngine::removeTap() {
    service_.record("removeTap");
    // Waits for a tap call in flight: the block is not running once this returns.
    std::lock_guard lock(service_.tapMutex_);
    if (service_.tapOwner_ != this) return;
    service_.tap_ = nullptr;
    service_.tapOwner_ = nullptr;
}

void SimEngine::prepare() {
    service_.record("prepare");
}

std::optional<platform::Error> SimEngine::start() {
    service_.record("start");
    if (service_.startError) return platform::Error{*service_.startError};
    std::lock_guard lock(service_.tapMutex_);
    service_.runningEngine_ = this;
    return std::nullopt;
}

void SimEngine::stop() {
    service_.record("stop");
    std::lock_guard lock(service_.tapMutex_);
    if (service_.runningEngine_ == this) service_.runningEngine_ = nullptr;
}

std::unique_ptr<platform::AudioEngine> SimAudioService::makeEngine() {
    ++enginesMade;
    return std::make_unique<SimEngine>(*this);
}

void SimAudioService::requestMicrophoneAccess(std::function<void(bool granted)> handler) {
    std::lock_guard lock(accessMutex_);
    ++microphoneRequests_;
    microphoneHandler_ = std::move(handler);
}

void SimAudioService::record(const char* call) {
    std::lock_guard lock(logMutex_);
    log.emplace_back(call);
}

bool SimAudioService::tapInstalled() const {
    std::lock_guard lock(tapMutex_);
    return static_cast<bool>(tap_);
}

bool SimAudioService::running() const {
    std::lock_guard lock(tapMutex_);
    return runningEngine_ != nullptr;
}

void SimAudioService::deliver(const platform::AudioBuffer& buffer) {
    std::lock_guard lock(tapMutex_);
    // Only a started engine hears the microphone, and only through its own tap.
    if (tap_ && runningEngine_ == tapOwner_) tap_(buffer);
}

void SimAudioService::push(const std::vector<std::vector<float>>& channels) {
    std::vector<const float*> pointers;
    std::uint32_t frames = channels.empty() ? 0 : static_cast<std::uint32_t>(channels[0].size());
    for (const auto& channel : channels) {
        // A short channel would let the tap read past its end.
        if (channel.size() < frames) frames = static_cast<std::uint32_t>(channel.size());
        pointers.push_back(channel.data());
    }
    platform::AudioBuffer buffer;
    buffer.floatChannelData = pointers.empty() ? nullptr : pointers.data();
    buffer.frameLength = frames;
    buffer.channelCount = static_cast<std::uint32_t>(channels.size());
    buffer.sampleRate = format.sampleRate;
    deliver(buffer);
}

void SimAudioService::pushNoFloatData(std::uint32_t frames) {
    platform::AudioBuffer buffer;
    buffer.frameLength = frames;
    buffer.channelCount = format.channelCount;
    buffer.sampleRate = format.sampleRate;
    deliver(buffer);
}

void SimAudioService::pushFromThread(std::vector<std::vector<std::vector<float>>> buffers,
                                     std::function<void()> mainThreadWork) {
    std::exception_ptr audioFailure;
    std::thread audio([&] {
        nameThisThread("audio");
        try {
            for (const auto& channels : buffers) push(channels);
        } catch (...) {
            audioFailure = std::current_exception();
        }
    });
    std::exception_ptr mainFailure;
    try {
        if (mainThreadWork) mainThreadWork();
    } catch (...) {
        mainFailure = std::current_exception();
    }
    audio.join();
    if (mainFailure) std::rethrow_exception(mainFailure);
    if (audioFailure) std::rethrow_exception(audioFailure);
}

bool SimAudioService::microphoneRequested() const {
    return microphoneRequests() > 0;
}

int SimAudioService::microphoneRequests() const {
    std::lock_guard lock(accessMutex_);
    return microphoneRequests_;
}

void SimAudioService::answerMicrophone(bool granted) {
    std::function<void(bool)> handler;
    {
        std::lock_guard lock(accessMutex_);
        handler = std::exchange(microphoneHandler_, nullptr);
    }
    if (!handler) {
        ADD_FAILURE() << "no microphone request to answer";
        return;
    }
    onOtherThread("microphone", [&] { handler(granted); });
}

// ---------------------------------------------------------------------------
// SimPlatform
// ---------------------------------------------------------------------------

std::optional<int> SimPlatform::advance(double seconds) {
    try {
        runLoop.advance(seconds);
    } catch (const ExitCalled& exit) {
        return exit.status;
    }
    return std::nullopt;
}

std::optional<int> SimPlatform::runDue() {
    try {
        runLoop.runDue();
    } catch (const ExitCalled& exit) {
        return exit.status;
    }
    return std::nullopt;
}

std::vector<nlohmann::json> SimPlatform::events() {
    std::vector<nlohmann::json> parsed;
    for (const auto& line : process.outputLines()) {
        try {
            parsed.push_back(nlohmann::json::parse(line));
        } catch (const nlohmann::json::parse_error& e) {
            ADD_FAILURE() << "stdout line is not JSON: " << line << " (" << e.what() << ")";
        }
    }
    return parsed;
}

}  // namespace scrivia::sim
