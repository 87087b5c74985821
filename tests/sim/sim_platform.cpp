#include "sim/sim_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>
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

// Turns an exit out of `work` into its status.
template <class Work>
std::optional<int> exitOf(Work work) {
    try {
        work();
    } catch (const ExitCalled& exit) {
        return exit.status;
    }
    return std::nullopt;
}

}  // namespace

void onOtherThread(const std::string& name, const std::function<void()>& work) {
    std::async(std::launch::async, [&] {
        nameThisThread(name);
        work();
    }).get();
}

// ---------------------------------------------------------------------------
// SimRunLoop
// ---------------------------------------------------------------------------

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

std::vector<SimRunLoop::Timed>::iterator SimRunLoop::earliestLocked() {
    return std::min_element(timed_.begin(), timed_.end(), [](const Timed& a, const Timed& b) {
        return std::pair(a.due(), a.order) < std::pair(b.due(), b.order);
    });
}

std::function<void()> SimRunLoop::takeDue() {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        auto task = std::move(queue_.front());
        queue_.pop_front();
        return task;
    }
    auto next = earliestLocked();
    if (next == timed_.end() || next->due() > clock_.now() + kEpsilon) return {};
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

bool SimRunLoop::runDue() {
    for (std::size_t ran = 0; ran < kRunawayLimit; ++ran) {
        auto task = takeDue();
        if (!task) return true;
        task();
    }
    ADD_FAILURE() << "run loop: more than " << kRunawayLimit << " tasks due at one instant";
    return false;
}

void SimRunLoop::advance(double seconds) {
    const double end = clock_.now() + std::max(seconds, 0.0);
    while (runDue()) {
        std::optional<double> due;
        {
            std::lock_guard lock(mutex_);
            if (auto next = earliestLocked(); next != timed_.end()) due = next->due();
        }
        // Never backwards: something overdue runs at the current time.
        clock_.set(std::max(clock_.now(), std::min(due.value_or(end), end)));
        if (!due || *due > end + kEpsilon) {
            runDue();
            return;
        }
    }
}

bool SimRunLoop::waitForPost(double realSecondsMax) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, std::chrono::duration<double>(realSecondsMax), [&] {
        auto next = earliestLocked();
        return !queue_.empty() || (next != timed_.end() && next->due() <= clock_.now() + kEpsilon);
    });
}

// ---------------------------------------------------------------------------
// SimProcess
// ---------------------------------------------------------------------------

SimProcess::SimProcess() {
    stdout_ = memfd_create("scrivia-stdout", MFD_CLOEXEC);
    int fds[2];
    if (stdout_ < 0 || pipe2(fds, O_CLOEXEC) != 0) throwErrno("stdout or stdin of the simulation");
    stdinRead_ = fds[0];
    stdinWrite_ = fds[1];
}

SimProcess::~SimProcess() {
    // End of input lets a reader blocked in read() finish.
    closeStdin();
    for (;;) {  // a background thread may start another
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

std::vector<std::string> SimProcess::outputLines() {
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = pread(stdout_, chunk, sizeof chunk, static_cast<off_t>(out.size()))) != 0) {
        if (n < 0 && errno != EINTR) throwErrno("pread");
        if (n > 0) out.append(chunk, static_cast<std::size_t>(n));
    }
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = out.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(out.substr(begin, end - begin));
    }
    return lines;
}

void SimProcess::writeStdin(const std::string& bytes) {
    std::lock_guard lock(stdinMutex_);
    for (std::size_t written = 0; written < bytes.size();) {
        const ssize_t n = write(stdinWrite_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno != EINTR) throwErrno("write to stdin pipe");
        if (n > 0) written += static_cast<std::size_t>(n);
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

std::shared_ptr<platform::SpeechRecognizer> SimSpeechService::recognizer(
    const std::string& identifier) {
    asked.push_back(identifier);
    auto found = served.find(identifier);
    return found == served.end() ? nullptr : found->second;
}

void SimSpeechService::answerAuthorization(platform::AuthorizationStatus status) {
    if (!authorization_.answer("authorization", status)) {
        ADD_FAILURE() << "no authorisation request to answer";
    }
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

// Its tap lives in the service, so that the test can feed it.
class SimEngine : public platform::AudioEngine {
  public:
    explicit SimEngine(SimAudioService& service) : s_(service) {}
    // Like a real engine going away: stopped, and its tap never called again.
    ~SimEngine() override {
        std::lock_guard lock(s_.tapMutex_);
        if (s_.tapOwner_ == this) s_.tap_ = nullptr;
        if (s_.runningEngine_ == this) s_.runningEngine_ = nullptr;
    }
    platform::AudioFormat inputFormat() override {
        s_.record("inputFormat");
        return s_.format;
    }
    void installTap(std::uint32_t bufferSize, platform::AudioFormat,
                    platform::TapBlock block) override {
        s_.record("installTap");
        s_.tapBufferSize = bufferSize;
        std::lock_guard lock(s_.tapMutex_);
        s_.tap_ = std::move(block);
        s_.tapOwner_ = this;
    }
    void removeTap() override {
        s_.record("removeTap");
        // Waits for a tap call in flight: the block is not running once this returns.
        std::lock_guard lock(s_.tapMutex_);
        if (s_.tapOwner_ == this) s_.tap_ = nullptr;
    }
    void prepare() override { s_.record("prepare"); }
    std::optional<platform::Error> start() override {
        s_.record("start");
        if (s_.startError) return platform::Error{*s_.startError};
        std::lock_guard lock(s_.tapMutex_);
        s_.runningEngine_ = this;
        return std::nullopt;
    }
    void stop() override {
        s_.record("stop");
        std::lock_guard lock(s_.tapMutex_);
        if (s_.runningEngine_ == this) s_.runningEngine_ = nullptr;
    }

  private:
    SimAudioService& s_;
};

std::unique_ptr<platform::AudioEngine> SimAudioService::makeEngine() {
    ++enginesMade;
    return std::make_unique<SimEngine>(*this);
}

void SimAudioService::record(const char* call) {
    std::lock_guard lock(logMutex_);
    log.emplace_back(call);
}

void SimAudioService::deliver(const platform::AudioBuffer& buffer) {
    std::lock_guard lock(tapMutex_);
    // Only a started engine hears the microphone, and only through its own tap.
    if (tap_ && runningEngine_ == tapOwner_) tap_(buffer);
}

void SimAudioService::push(const std::vector<std::vector<float>>& channels) {
    std::vector<const float*> pointers;
    // The shortest channel sets the length, so that the tap never reads past one.
    std::size_t frames = channels.empty() ? 0 : channels[0].size();
    for (const auto& channel : channels) {
        frames = std::min(frames, channel.size());
        pointers.push_back(channel.data());
    }
    deliver(platform::AudioBuffer{pointers.empty() ? nullptr : pointers.data(),
                                  static_cast<std::uint32_t>(frames),
                                  static_cast<std::uint32_t>(channels.size()), format.sampleRate});
}

void SimAudioService::pushNoFloatData(std::uint32_t frames) {
    deliver(platform::AudioBuffer{nullptr, frames, format.channelCount, format.sampleRate});
}

void SimAudioService::pushFromThread(std::vector<std::vector<std::vector<float>>> buffers,
                                     std::function<void()> mainThreadWork) {
    auto audio = std::async(std::launch::async, [&] {
        nameThisThread("audio");
        for (const auto& channels : buffers) push(channels);
    });
    try {
        if (mainThreadWork) mainThreadWork();
    } catch (...) {
        audio.wait();
        throw;
    }
    audio.get();
}

void SimAudioService::answerMicrophone(bool granted) {
    if (!microphone_.answer("microphone", granted)) {
        ADD_FAILURE() << "no microphone request to answer";
    }
}

// ---------------------------------------------------------------------------
// SimPlatform
// ---------------------------------------------------------------------------

std::optional<int> SimPlatform::advance(double seconds) {
    return exitOf([&] { runLoop.advance(seconds); });
}

std::optional<int> SimPlatform::runDue() {
    return exitOf([&] { runLoop.runDue(); });
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
