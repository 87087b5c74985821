// The simulator's own tricky parts: virtual-time ordering, exits thrown out of
// tasks, the stdin/stdout plumbing and the tap-removal guarantee. If these were
// wrong, every behaviour test built on them would be wrong with them.
#include "sim/sim_platform.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

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
    EXPECT_EQ(sim.runLoop.pendingTasks(), 1u);

    sim.runLoop.advance(0.125);
    EXPECT_EQ(ran.back(), "late@0.500000");
    EXPECT_EQ(sim.runLoop.pendingTasks(), 0u);
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
    EXPECT_EQ(sim.runLoop.pendingTasks(), 1u);
}

TEST(SimRunLoop, ExitThrownFromATaskLeavesTheLoopConsistent) {
    SimPlatform sim;
    int timerRuns = 0;
    int afterExit = 0;
    sim.runLoop.scheduleRepeating(1.0, [&] {
        if (++timerRuns == 1) sim.process.exit(4);
    });
    sim.runLoop.post([&] { sim.process.exit(3); });
    sim.runLoop.post([&] { ++afterExit; });

    EXPECT_EQ(sim.runDue(), 3);
    EXPECT_EQ(sim.process.exitStatus, 3);
    // The throwing task is gone; what was queued behind it still runs once.
    EXPECT_EQ(sim.runDue(), std::nullopt);
    EXPECT_EQ(afterExit, 1);

    // A timer reschedules before its block runs, so it survives the exit.
    EXPECT_EQ(sim.advance(1.0), 4);
    EXPECT_EQ(sim.advance(1.0), std::nullopt);
    EXPECT_EQ(timerRuns, 2);
}

TEST(SimProcess, BackgroundReaderFeedsTheLoopAndOutputKeepsOnlyWholeLines) {
    SimPlatform sim;
    std::string threadName;
    std::vector<std::string> received;
    sim.process.runInBackground("stdin-reader", [&] {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::string named(name);
        sim.runLoop.post([&, named] { threadName = named; });
        char buffer[64];
        ssize_t n;
        while ((n = read(sim.process.standardInput(), buffer, sizeof buffer)) > 0) {
            std::string text(buffer, static_cast<std::size_t>(n));
            sim.runLoop.post([&, text] { received.push_back(text); });
        }
        sim.runLoop.post([&] { received.push_back("<eof>"); });
    });
    ASSERT_TRUE(sim.runLoop.waitForPost());
    sim.runLoop.runDue();
    EXPECT_EQ(threadName, "stdin-reader");

    sim.process.writeStdin("stop\n");
    ASSERT_TRUE(sim.runLoop.waitForPost());
    sim.runLoop.runDue();
    sim.process.closeStdin();
    for (int round = 0; round < 100 && (received.empty() || received.back() != "<eof>"); ++round) {
        ASSERT_TRUE(sim.runLoop.waitForPost());
        sim.runLoop.runDue();
    }
    ASSERT_EQ(received.back(), "<eof>");
    EXPECT_EQ(received.front(), "stop\n");

    const std::string out = "{\"event\":\"ready\"}\nnot json\n{\"event\":";
    ASSERT_EQ(write(sim.process.standardOutput(), out.data(), out.size()),
              static_cast<ssize_t>(out.size()));
    EXPECT_EQ(sim.process.outputLines(),
              (std::vector<std::string>{"{\"event\":\"ready\"}", "not json"}));
    EXPECT_EQ(sim.process.rawOutput(), out);
}

TEST(SimAudio, TapIsSilentUntilStartedAndNeverRunsAfterRemoval) {
    SimPlatform sim;
    auto engine = sim.audio.makeEngine();
    int calls = 0;  // plain int: removeTap's guarantee is what keeps this race-free
    engine->installTap(1024, engine->inputFormat(), [&](const platform::AudioBuffer& buffer) {
        EXPECT_EQ(buffer.sampleRate, 48000.0);
        ++calls;
    });
    sim.audio.push({{0.1f, 0.2f}});
    EXPECT_EQ(calls, 0);
    ASSERT_EQ(engine->start(), std::nullopt);

    std::vector<std::vector<std::vector<float>>> buffers(2000, {{0.0f, 0.5f}});
    int atRemoval = -1;
    sim.audio.pushFromThread(buffers, [&] {
        engine->removeTap();
        atRemoval = calls;
    });
    EXPECT_EQ(calls, atRemoval);
    engine->stop();
    EXPECT_EQ(sim.audio.log, (std::vector<std::string>{"inputFormat", "installTap", "start",
                                                       "removeTap", "stop"}));
}

}  // namespace
}  // namespace scrivia::sim
