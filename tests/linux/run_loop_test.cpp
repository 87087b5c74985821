// The main-thread loop: order of tasks, timers, waking from other threads, quitting.
#include "platform/linux/run_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace scrivia::platform::linux_ {
namespace {

using namespace std::chrono_literals;

TEST(RunLoopTest, TasksRunInOrderTimersByDueTimeAndTheFirstQuitSetsTheStatus) {
    RunLoop loop;
    std::string order;
    const auto start = std::chrono::steady_clock::now();
    bool early = false;
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
    loop.postAfter(0.08, [&] {
        loop.quit(3);
        loop.quit(0);
    });
    loop.postAfter(0.08, note('X', 0));  // queued behind the quit: never runs
    EXPECT_EQ(loop.run(), 3);
    EXPECT_EQ(order, "p0ABC");
    EXPECT_FALSE(early);
}

TEST(RunLoopTest, RepeatingTimerSkipsBeatsMissedWhileTheLoopWasBusy) {
    RunLoop loop;
    int fires = 0;
    // Twelve periods pass while the loop is busy; a timer that caught up on
    // all of them would fire many times before the quit it posts first.
    loop.post([] { std::this_thread::sleep_for(120ms); });
    loop.scheduleRepeating(0.01, [&] {
        if (++fires == 1) loop.post([&] { loop.quit(0); });
    });
    loop.run();
    EXPECT_EQ(fires, 1);
}

}  // namespace
}  // namespace scrivia::platform::linux_
