// A main loop that a benchmark pumps itself, between its own steps, instead of
// handing its thread to `run`. The recogniser only posts to it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>

#include "platform/platform.h"

namespace scrivia::bench {

class PumpedRunLoop final : public platform::RunLoop {
  public:
    using Clock = std::chrono::steady_clock;

    void post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        posted_.notify_all();
    }
    void postAfter(double, std::function<void()>) override { unexpected(); }
    void scheduleRepeating(double, std::function<void()>) override { unexpected(); }
    int run() override { unexpected(); }
    void quit(int) override { unexpected(); }

    // Runs posted tasks until `done` holds; false if nothing came for a minute.
    bool runUntil(const std::function<bool()>& done) {
        while (!done()) {
            if (!runOne(Clock::now() + std::chrono::minutes(1))) return false;
        }
        return true;
    }
    // Runs posted tasks until `deadline`.
    void runUntil(Clock::time_point deadline) {
        while (Clock::now() < deadline) runOne(deadline);
    }

  private:
    bool runOne(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        return true;
    }
    [[noreturn]] static void unexpected() {
        throw std::logic_error("the recogniser only posts to the main loop");
    }

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace scrivia::bench
