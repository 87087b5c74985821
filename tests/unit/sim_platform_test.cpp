// The simulator's virtual time, which every behaviour test trusts without
// seeing it: a wrong order at one instant or a drifting timer would shift
// their outcomes silently.
#include "sim/sim_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scrivia::sim {
namespace {

TEST(SimRunLoop, RunsTasksInDueOrderWithTheClockAtEachDueTime) {
    SimPlatform sim;
    std::vector<std::string> ran;
    auto note = [&](std::string name) {
        return [&, name] { ran.push_back(name + "@" + std::to_string(sim.clock.now() - 1000.0)); };
    };
    sim.runLoop.postAfter(0.5, note("late"));
    sim.runLoop.postAfter(0.25, note("early"));
    sim.runLoop.postAfter(0.25, note("early-second"));
    sim.runLoop.post(note("posted"));
    sim.runLoop.postAfter(0.0, note("zero-delay"));
    // Work posted by a task at some instant runs at that same instant.
    sim.runLoop.postAfter(0.25, [&] { sim.runLoop.post(note("chained")); });

    sim.runLoop.advance(0.375);
    EXPECT_EQ(ran,
              (std::vector<std::string>{"posted@0.000000", "zero-delay@0.000000", "early@0.250000",
                                        "early-second@0.250000", "chained@0.250000"}));
    EXPECT_EQ(sim.clock.now(), 1000.375);
    sim.runLoop.advance(0.125);
    EXPECT_EQ(ran.back(), "late@0.500000");
}

TEST(SimRunLoop, RepeatingTimerKeepsItsCadenceOverLongSpans) {
    SimPlatform sim;
    int ticks = 0;
    double lastTick = 0;
    sim.runLoop.scheduleRepeating(0.1, [&] {
        ++ticks;
        lastTick = sim.clock.now();
    });
    sim.runLoop.advance(0.05);
    EXPECT_EQ(ticks, 0);
    // Summing 0.1 a thousand times drifts; the timer must not lose or gain a tick.
    sim.runLoop.advance(99.95);
    EXPECT_EQ(ticks, 1000);
    EXPECT_NEAR(lastTick, 1100.0, 1e-9);
    // Stepping by the interval itself lands a hair off each tick; one each.
    for (int step = 0; step < 10; ++step) sim.runLoop.advance(0.1);
    EXPECT_EQ(ticks, 1010);
}

}  // namespace
}  // namespace scrivia::sim
