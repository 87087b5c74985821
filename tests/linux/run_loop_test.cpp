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

TEST(RunLoopTest, RunsTasksFromOtherThreadsOneAtATimeInTheirOrderOnTheLoopThread) {
    RunLoop loop;
    constexpr int kThreads = 4;
    constexpr int kTasksEach = 500;
    std::vector<std::vector<int>> seen(kThreads);  // touched only on the loop thread
    std::atomic<int> running{0};
    bool overlapped = false;
    bool offLoopThread = false;
    const auto loopThread = std::this_thread::get_id();
    std::atomic<int> finishedThreads{0};

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kTasksEach; ++i) {
                loop.post([&, t, i] {
                    overlapped |= running.fetch_add(1) != 0;
                    offLoopThread |= std::this_thread::get_id() != loopThread;
                    seen[t].push_back(i);
                    running.fetch_sub(1);
                });
            }
            // The last thread to finish posting queues the stop behind everything.
            if (finishedThreads.fetch_add(1) + 1 == kThreads) loop.post([&] { loop.stop(); });
        });
    }
    loop.run();
    for (auto& poster : posters) poster.join();

    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(offLoopThread);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kTasksEach)) << "thread " << t;
        for (int i = 0; i < kTasksEach; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
    }
}

TEST(RunLoopTest, DelayedTasksRunByDueTimeThenSubmissionAndNeverEarly) {
    RunLoop loop;
    std::string order;
    std::vector<double> lateness;
    const auto start = std::chrono::steady_clock::now();
    auto note = [&](char name, double delay) {
        return [&, name, delay] {
            order += name;
            lateness.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                delay);
        };
    };
    loop.postAfter(0.06, note('C', 0.06));
    loop.postAfter(0.02, note('A', 0.02));
    loop.postAfter(0.04, note('B', 0.04));
    loop.postAfter(-1, note('0', 0));  // a negative delay means now
    loop.post(note('p', 0));
    loop.postAfter(0.08, [&] { loop.stop(); });
    loop.run();

    EXPECT_EQ(order, "p0ABC");
    for (double late : lateness) EXPECT_GE(late, 0.0);
}

TEST(RunLoopTest, RepeatingTimerFiresAgainAndAgainUntilTheLoopStops) {
    RunLoop loop;
    int fires = 0;
    loop.scheduleRepeating(0.005, [&] {
        if (++fires == 5) loop.stop();
    });
    loop.run();
    EXPECT_EQ(fires, 5);

    // The timer belongs to the loop: running it again carries on counting.
    loop.postAfter(0.05, [&] { loop.stop(); });
    loop.run();
    EXPECT_GT(fires, 5);
}

TEST(RunLoopTest, RepeatingTimerSkipsTheBeatsItMissedWhileTheLoopWasBusy) {
    RunLoop loop;
    int fires = 0;
    // Twelve periods pass while the loop is busy; a timer that caught up on all
    // of them would queue twelve firings ahead of the stop posted by the first.
    loop.post([] { std::this_thread::sleep_for(120ms); });
    loop.scheduleRepeating(0.01, [&] {
        if (++fires == 1) loop.post([&] { loop.stop(); });
    });
    loop.run();
    EXPECT_EQ(fires, 1);
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
            if (delayed) {
                loop.postAfter(0.01, task);
            } else {
                loop.post(task);
            }
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

TEST(ClockTest, IsMonotonicAndCountsSeconds) {
    Clock clock;
    const Instant first = clock.now();
    std::this_thread::sleep_for(20ms);
    const Instant second = clock.now();
    EXPECT_GE(second - first, 0.02);
    EXPECT_LT(second - first, 60.0);  // seconds, not milli- or nanoseconds
}

}  // namespace
}  // namespace scrivia::platform::linux_
