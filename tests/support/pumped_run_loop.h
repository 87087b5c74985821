// A main-thread loop that the caller pumps until what it waits for has come,
// for driving the speech service outside the program. The service only posts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>

#include "platform/platform.h"

namespace scrivia::testing {

class PumpedRunLoop final : public platform::RunLoop {
  public:
    void post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        posted_.notify_all();
    }
    void postAfter(double, std::function<void()>) override { unexpected(); }
    void scheduleRepeating(double, std::function<void()>) override { unexpected(); }
    int run() override { unexpected(); }
    void quit(int) override { unexpected(); }

    // Runs posted tasks on this thread until `done` holds; false if nothing
    // came for `giveUp`, so a hang cannot block the caller for ever.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::seconds giveUp = std::chrono::minutes(4)) {
        const auto deadline = std::chrono::steady_clock::now() + giveUp;
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!posted_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

  private:
    [[noreturn]] static void unexpected() {
        throw std::logic_error("the speech service only posts to the main loop");
    }

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace scrivia::testing
