// The main-thread loop: order of tasks and timers, and quitting.
#include "platform/linux/run_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace scrivia::platform::linux_ {
namespace {

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

}  // namespace
}  // namespace scrivia::platform::linux_
