// The orderly stop: what is owed is written before "end", within 2.5 s.
#include "harness.h"

namespace scrivia::testing {
namespace {

class Stop : public SessionHarness {
  protected:
    // Sends "stop" on standard input and runs the hand-off.
    std::optional<int> sendStop(const std::string& line = "stop\n") {
        sim.process.writeStdin(line);
        EXPECT_TRUE(sim.runLoop.waitForPost());
        return sim.runDue();
    }
    // A closed segment with `text`, still owed.
    void closedSegment(const std::string& text) {
        current().partial(text);
        sim.advance(1.4);
    }
    std::vector<json> afterReady() {
        auto all = events();
        all.erase(all.begin());
        return all;
    }
};

TEST_F(Stop, NothingHeardNothingOwedEndsAtOnce) {
    EXPECT_EQ(sendStop(), 0);
    EXPECT_EQ(afterReady(), std::vector<json>{event("end")});
    EXPECT_EQ(sim.audio.log, (std::vector<std::string>{"inputFormat", "installTap", "prepare",
                                                       "start", "removeTap", "stop"}));
    EXPECT_TRUE(task(0).cancelled());
}

TEST_F(Stop, EndOfInputStopsLikeStop) {
    task(0).partial("au revoir");
    sim.process.closeStdin();
    ASSERT_TRUE(sim.runLoop.waitForPost());
    EXPECT_EQ(sim.runDue(), std::nullopt);
    EXPECT_EQ(sim.advance(2.5), 0);
    EXPECT_EQ(afterReady(),
              (std::vector<json>{partial("au revoir"), final("au revoir"), event("end")}));
}

TEST_F(Stop, FinalInTimeEndsBeforeTheDeadline) {
    task(0).partial("merci");
    ASSERT_EQ(sendStop(" stop\r\n"), std::nullopt);
    EXPECT_TRUE(task(0).request->audioEnded());
    EXPECT_EQ(recognizer->tasks.size(), 1u) << "no request opens while stopping";
    sim.advance(1.0);
    EXPECT_EQ(exitOf([&] { task(0).final(" Merci. "); }), 0);
    EXPECT_EQ(afterReady(), (std::vector<json>{partial("merci"), final("Merci."), event("end")}));
}

TEST_F(Stop, NoFinalFlushesTheTextAsItStoodAtTheStop) {
    task(0).partial("jusqu'ici ");
    ASSERT_EQ(sendStop(), std::nullopt);
    task(0).partial("jusqu'ici et plus");  // still shown, but the entry keeps the stop's text
    EXPECT_EQ(sim.advance(2.4), std::nullopt);
    sim.advance(0.2);
    EXPECT_EQ(sim.process.exitStatus, 0);
    EXPECT_EQ(afterReady(), (std::vector<json>{partial("jusqu'ici "), partial("jusqu'ici et plus"),
                                               final("jusqu'ici"), event("end")}));
}

TEST_F(Stop, EmptyCurrentSegmentWithOwedSegmentsDropsTheCurrentRequest) {
    closedSegment("premier");
    closedSegment("second");
    ASSERT_EQ(recognizer->tasks.size(), 3u);
    ASSERT_EQ(sendStop(), std::nullopt);
    EXPECT_FALSE(task(2).request->audioEnded());
    EXPECT_FALSE(task(2).cancelled());
    sim.audio.push({std::vector<float>(2048, 0.0f)});
    EXPECT_EQ(task(2).request->appendedBuffers(), 0u) << "the microphone feeds no request now";
    task(2).partial("ignoré");
    task(2).error("ignoré");
    EXPECT_EQ(exitOf([&] { task(1).final("Second."); }), std::nullopt);
    EXPECT_EQ(exitOf([&] { task(0).error("perdu"); }), 0) << "the last owed segment settles";
    EXPECT_EQ(afterReady(), (std::vector<json>{partial("premier"), partial("second"),
                                               final("Second."), final("premier"), event("end")}));
}

TEST_F(Stop, FlushWritesOwedSegmentsInSpokenOrderSkippingBlankOnes) {
    closedSegment("même");
    closedSegment("  ");
    closedSegment("même");
    task(1).partial(" \n ");
    task(0).partial("même texte");  // latest text of a closed segment
    ASSERT_EQ(sendStop(), std::nullopt);
    EXPECT_EQ(sim.advance(3.0), 0);
    auto finals = eventsOfType("final");
    EXPECT_EQ(finals, (std::vector<json>{final("même texte"), final("même")}));
    EXPECT_EQ(events().back(), event("end"));
}

TEST_F(Stop, IdenticalOwedTextsAreBothWritten) {
    closedSegment("oui");
    closedSegment("oui");
    ASSERT_EQ(sendStop(), std::nullopt);
    EXPECT_EQ(sim.advance(2.5), 0);
    EXPECT_EQ(eventsOfType("final"), (std::vector<json>{final("oui"), final("oui")}));
}

TEST_F(Stop, ALateErrorOfTheSettledRequestDoesNotCutTheDrainShort) {
    closedSegment("owed");
    current().partial("last words");
    ASSERT_EQ(sendStop(), std::nullopt);
    EXPECT_EQ(exitOf([&] { task(1).final("Last words."); }), std::nullopt);
    EXPECT_EQ(exitOf([&] { task(1).error("late"); }), std::nullopt);
    EXPECT_EQ(sim.advance(2.5), 0);
    EXPECT_EQ(eventsOfType("final"), (std::vector<json>{final("Last words."), final("owed")}));
}

TEST_F(Stop, ErrorOfTheCurrentRequestWhileItIsOwedSettlesItsText) {
    current().partial("presque");
    ASSERT_EQ(sendStop(), std::nullopt);
    EXPECT_EQ(exitOf([&] { task(0).error("coupure"); }), 0);
    EXPECT_EQ(eventsOfType("final"), std::vector<json>{final("presque")});
}

TEST_F(Stop, ASecondStopChangesNothing) {
    current().partial("texte");
    ASSERT_EQ(sendStop(), std::nullopt);
    sim.process.writeStdin("stop\n");
    sim.process.closeStdin();
    EXPECT_FALSE(sim.runLoop.waitForPost(0.2)) << "standard input is not read after the first stop";
    sim.advance(2.5);
    EXPECT_EQ(eventsOfType("end").size(), 1u);
    EXPECT_EQ(eventsOfType("final").size(), 1u);
}

TEST_F(Stop, LevelsGoOnUntilTheTapIsRemovedAndNeverFollowEnd) {
    current().partial("bruit");
    ASSERT_EQ(sendStop(), std::nullopt);
    sim.clock.set(sim.clock.now() + 0.5);
    sim.audio.push({std::vector<float>(2048, 0.05f)});
    EXPECT_EQ(eventsOfType("level").size(), 1u);
    EXPECT_EQ(sim.advance(2.5), 0);
    EXPECT_EQ(events(true).back(), event("end"));
}

TEST_F(Stop, WatchdogIsIdleWhileStopping) {
    current().partial("suspendu");
    ASSERT_EQ(sendStop(), std::nullopt);
    current().partial("suspendu encore");
    sim.advance(2.4);
    EXPECT_EQ(recognizer->tasks.size(), 1u);
}

TEST_F(Stop, EndIsTheLastLineWhenTheRunFailsWhileTheAudioThreadReportsLevels) {
    std::vector<std::vector<std::vector<float>>> buffers(2000, {std::vector<float>(64, 0.05f)});
    std::optional<int> status;
    sim.audio.pushFromThread(buffers, [&] {
        for (int i = 0; i < 5 && !status; ++i) {
            sim.clock.set(sim.clock.now() + 0.5);
            status = exitOf([&] { current().error("boom"); });
        }
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(events(true).back(), event("end"));
}

}  // namespace
}  // namespace scrivia::testing
