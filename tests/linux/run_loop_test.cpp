// The main-thread loop: order of tasks, timers, and waking from other threads.
#include "platform/linux/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace scrivia::platform::linux_ {
namespace {

using namespace std::chrono_literals;

TEST(RunLoopTest, RunsTasksFromOtherThreadsInTheirOrderOnTheLoopThread) {
    RunLoop loop;
    constexpr int kTasks = 1000;
    std::vector<int> seen[2];  // touched only by the loop
    bool offLoop = false;
    std::atomic<int> postersDone{0};
    const auto loopThread = std::this_thread::get_id();
    auto poster = [&](int p) {
        for (int i = 0; i < kTasks; ++i) {
            loop.post([&, p, i] {
                offLoop |= std::this_thread::get_id() != loopThread;
                seen[p].push_back(i);
            });
        }
        if (++postersDone == 2) loop.post([&] { loop.stop(); });  // behind everything
    };
    std::thread first(poster, 0), second(poster, 1);
    loop.run();
    first.join();
    second.join();
    EXPECT_FALSE(offLoop);
    for (const auto& tasks : seen) {
        ASSERT_EQ(tasks.size(), std::size_t(kTasks));
        for (int i = 0; i < kTasks; ++i) ASSERT_EQ(tasks[i], i);
    }
}

TEST(RunLoopTest, DelayedTasksRunByDueTimeThenSubmissionAndNeverEarly) {
    RunLoop loop;
    std::string order;
    bool early = false;
    const auto start = std::chrono::steady_clock::now();
    auto note = [&](char name, double delay) {
        return [&, name, delay] {
            order += name;
            early |=
                std::chrono::steady_clock::now() - start < std::chrono::duration<double>(delay);
        };
    };
    loop.postAfter(0.06, note('C', 0.06));
    loop.postAfter(0.02, note('A', 0.02));
    loop.postAfter(0.04, note('B', 0.04));
    loop.postAfter(-1, note('0', 0));  // a negative delay means now, after what is posted
    loop.post(note('p', 0));
    loop.postAfter(0.08, [&] { loop.stop(); });
    loop.run();
    EXPECT_EQ(order, "p0ABC");
    EXPECT_FALSE(early);
}

TEST(RunLoopTest, RepeatingTimerFiresAgainAndAgainButSkipsBeatsMissedWhileTheLoopWasBusy) {
    RunLoop loop;
    int fires = 0;
    // Twelve periods pass while the loop is busy; a timer that caught up on all
    // of them would queue twelve firings ahead of the stop posted by the first.
    loop.post([] { std::this_thread::sleep_for(120ms); });
    loop.scheduleRepeating(0.01, [&] {
        if (++fires == 1 || fires == 5) loop.post([&] { loop.stop(); });
    });
    loop.run();
    EXPECT_EQ(fires, 1);
    loop.run();
    EXPECT_EQ(fires, 5);
}

TEST(RunLoopTest, WorkFromAnotherThreadWakesALoopThatIsWaiting) {
    for (bool delayed : {false, true}) {
        RunLoop loop;
        bool ran = false;
        std::thread other([&] {
            std::this_thread::sleep_for(50ms);  // let the loop settle into its wait
            auto task = [&] {
                ran = true;
                loop.stop();
            };
            delayed ? loop.postAfter(0.01, task) : loop.post(task);
        });
        // Only a loop that missed the wake-up would still be waiting for this.
        std::promise<void> finished;
        std::thread watchdog([&loop, finished = finished.get_future()] {
            if (finished.wait_for(30s) == std::future_status::timeout) loop.stop();
        });
        loop.run();
        finished.set_value();
        other.join();
        watchdog.join();
        EXPECT_TRUE(ran) << (delayed ? "postAfter" : "post");
    }
}

}  // namespace
}  // namespace scrivia::platform::linux_
