// The main thread's loop and the monotonic clock on Linux.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::platform::linux_ {

// Waits on an eventfd rather than a condition variable, so that a signal
// handler can wake it with one async-signal-safe write.
class RunLoop final : public platform::RunLoop {
  public:
    RunLoop();
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void post(std::function<void()> task) override SCRIVIA_EXCLUDES(mutex_);
    void postAfter(double seconds, std::function<void()> task) override SCRIVIA_EXCLUDES(mutex_);
    void scheduleRepeating(double interval, std::function<void()> block) override
        SCRIVIA_EXCLUDES(mutex_);
    // Returns once `quit` is called, after the task it is running, if any.
    int run() override SCRIVIA_EXCLUDES(mutex_);
    void quit(int status) override SCRIVIA_EXCLUDES(mutex_);

    // `handler` runs on the loop once for each `signalArrived`.
    void setSignalHandler(std::function<void()> handler) SCRIVIA_EXCLUDES(mutex_);
    // ASYNC-SIGNAL-SAFE: counts a signal and wakes the loop; nothing else.
    void signalArrived();

  private:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    struct Timer {
        TimePoint due;
        std::uint64_t order;  // breaks ties between timers due at the same instant
        Duration interval;    // zero for a one-shot timer
        std::shared_ptr<std::function<void()>> task;
        bool operator<(const Timer& other) const {
            return due != other.due ? due < other.due : order < other.order;
        }
    };

    static Duration toDuration(double seconds);
    void addTimer(double seconds, double interval, std::function<void()> task)
        SCRIVIA_EXCLUDES(mutex_);
    // Moves every timer due by `now` onto the ready queue.
    void releaseDueTimers(TimePoint now) SCRIVIA_REQUIRES(mutex_);

    void wake();

    const int wakeFd_;
    std::atomic<int> signals_{0};  // arrived, not yet handed to the handler
    Mutex mutex_;
    std::function<void()> signalHandler_ SCRIVIA_GUARDED_BY(mutex_);  // set before signals arrive
    std::deque<std::function<void()>> ready_ SCRIVIA_GUARDED_BY(mutex_);
    std::set<Timer> timers_ SCRIVIA_GUARDED_BY(mutex_);
    std::uint64_t nextOrder_ SCRIVIA_GUARDED_BY(mutex_) = 0;
    std::optional<int> quitStatus_ SCRIVIA_GUARDED_BY(mutex_);
};

class Clock final : public platform::Clock {
  public:
    Instant now() override;
};

}  // namespace scrivia::platform::linux_
