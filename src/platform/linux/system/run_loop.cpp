#include "platform/linux/system/run_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <utility>

namespace scrivia::platform::linux_ {

namespace {
// A bound on delays, so that an absurd or infinite one cannot overflow the clock.
constexpr double kLongestDelay = 1e9;  // about thirty years
}  // namespace

RunLoop::RunLoop() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

RunLoop::~RunLoop() {
    if (wakeFd_ >= 0) close(wakeFd_);
}

void RunLoop::wake() {
    const std::uint64_t one = 1;
    // Only fails when the counter is full, and then the loop is awake anyway.
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}

void RunLoop::setSignalHandler(std::function<void()> handler) {
    MutexLock lock(mutex_);
    signalHandler_ = std::move(handler);
}

void RunLoop::signalArrived() {
    const int saved = errno;
    signals_.fetch_add(1);
    wake();
    errno = saved;
}

RunLoop::Duration RunLoop::toDuration(double seconds) {
    if (!(seconds > 0)) return Duration::zero();  // negative or NaN: as soon as possible
    if (seconds > kLongestDelay) seconds = kLongestDelay;
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

void RunLoop::post(std::function<void()> task) {
    {
        MutexLock lock(mutex_);
        ready_.push_back(std::move(task));
    }
    wake();
}

void RunLoop::postAfter(double seconds, std::function<void()> task) {
    addTimer(seconds, 0, std::move(task));
}

void RunLoop::scheduleRepeating(double interval, std::function<void()> block) {
    // A period shorter than a millisecond would only keep the loop spinning.
    if (!(interval >= 1e-3)) interval = 1e-3;
    addTimer(interval, interval, std::move(block));
}

void RunLoop::addTimer(double seconds, double interval, std::function<void()> task) {
    const TimePoint due = std::chrono::steady_clock::now() + toDuration(seconds);
    {
        MutexLock lock(mutex_);
        timers_.insert(Timer{due, nextOrder_++, toDuration(interval),
                             std::make_shared<std::function<void()>>(std::move(task))});
    }
    wake();
}

void RunLoop::releaseDueTimers(TimePoint now) {
    while (!timers_.empty() && timers_.begin()->due <= now) {
        Timer timer = std::move(timers_.extract(timers_.begin()).value());
        if (timer.interval == Duration::zero()) {
            ready_.push_back(std::move(*timer.task));
            continue;
        }
        ready_.push_back([task = timer.task] { (*task)(); });
        // Keep to the original grid so the period does not drift; after a stall
        // longer than a period, skip the missed beats instead of firing them all.
        timer.due += timer.interval;
        if (timer.due <= now) {
            const auto missed = (now - timer.due) / timer.interval + 1;
            timer.due += missed * timer.interval;
        }
        timer.order = nextOrder_++;
        timers_.insert(std::move(timer));
    }
}

int RunLoop::run() {
    MutexLock lock(mutex_);
    while (!quitStatus_) {
        for (int n = signals_.exchange(0); n > 0 && signalHandler_; --n)
            ready_.push_back(signalHandler_);
        releaseDueTimers(std::chrono::steady_clock::now());
        if (ready_.empty()) {
            int timeout = -1;
            if (!timers_.empty()) {
                const auto left = timers_.begin()->due - std::chrono::steady_clock::now();
                // Clamped before the cast: a far timer must not wrap into a busy loop.
                timeout = static_cast<int>(std::clamp<std::int64_t>(
                    std::chrono::ceil<std::chrono::milliseconds>(left).count(), 0, INT_MAX));
            }
            lock.unlock();
            pollfd wakeUp{wakeFd_, POLLIN, 0};
            if (poll(&wakeUp, 1, timeout) > 0) {
                std::uint64_t count;
                [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
            }
            lock.lock();
            continue;
        }
        std::function<void()> task = std::move(ready_.front());
        ready_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // whatever it captured goes away outside the lock too
        lock.lock();
    }
    return *quitStatus_;
}

void RunLoop::quit(int status) {
    {
        MutexLock lock(mutex_);
        if (!quitStatus_) quitStatus_ = status;
    }
    wake();
}

Instant Clock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace scrivia::platform::linux_
