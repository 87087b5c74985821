// The dictation session on the simulated platform: the road of an utterance,
// the segment rules in place, errors, the orderly stop, and faults from outside.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>
#include <tuple>

#include "sim/sim_platform.h"

namespace scrivia {
namespace {

// A run that has started: "ready" is written, the first request listens.
struct Listening : ::testing::Test {
    void SetUp() override { run.start(); }
    sim::Run run;
};
using Session = Listening;
using Stop = Listening;
using Faults = Listening;

// Audio goes to the request of its segment, and drives the meter.
TEST_F(Session, AnUtteranceAndItsAudioBecomePartialsThenAFinalAfterThePause) {
    auto& first = run.current();
    run.engine().feed(0.025f);
    first.partial("");
    first.partial("caf\u00e9");
    run.runLoop.advance(1.0);
    first.partial("cafe\u0301");  // the same text: the pause clock runs on
    run.runLoop.advance(0.25);
    ASSERT_EQ(run.recognizer().tasks.size(), 2u) << "closed 1.2 s after the text last changed";
    EXPECT_EQ(first.request->endCalls, 1);
    run.engine().feed();
    EXPECT_EQ(first.request->buffers, 1);
    EXPECT_EQ(run.current().request->buffers, 1);
    EXPECT_EQ(run.events().at(1), (nlohmann::json{{"type", "level"}, {"value", 0.3}}));
    run.current().partial("caf\u00e9");  // a new segment shows its first text, even a repeat
    first.final(" Caf\u00e9. ");
    EXPECT_EQ(run.transcript(), "partial:caf\u00e9 | partial:caf\u00e9 | final:Caf\u00e9.");
}

TEST(SessionStart, RequestsAskForDictationAndAMicrophoneThatCannotStartEndsTheRun) {
    struct Row {
        std::vector<std::string> args;
        bool onDevice, canPunctuate;
        std::optional<bool> requiresOnDevice, punctuation;
        platform::AudioFormat format;
        std::optional<platform::Error> error;
        std::string said;  // nothing: "ready", and a request listens
        std::vector<std::string> contextual = {};
    };
    const std::string noMic = "error:no-mic:Aucun micro utilisable | end";
    const std::string failed = "error:engine:Le micro n'a pas démarré : refused | end";
    for (const Row& r : std::vector<Row>{
             {{}, true, true, true, true, {48000, 2}, {}, ""},
             {{"--words", "/w"}, true, true, true, true, {48000, 2}, {}, "", {"GitHub", "Zoë"}},
             {{"--no-punctuation"}, false, true, {}, false, {16000, 1}, {}, ""},
             {{}, true, false, true, {}, {8000, 1}, {}, ""},  // never set where it cannot be
             {{}, true, true, {}, {}, {0, 1}, {}, noMic},
             {{}, true, true, {}, {}, {NAN, 1}, {}, noMic},
             {{}, true, true, {}, {}, {48000, 0}, {}, noMic},
             {{}, true, true, {}, {}, {48000, 1}, platform::Error{"refused"}, failed},
         }) {
        sim::Run run;
        run.speech.punctuationSetting = r.canPunctuate;
        run.serve("fr_FR").onDevice = r.onDevice;
        run.audio.format = r.format;
        run.audio.startError = r.error;
        run.process.userFiles["/w"] = "GitHub\nZoë = zo ay\n";
        run.start(r.args);
        EXPECT_EQ(run.speech.ownWords.size(), r.contextual.size());
        EXPECT_EQ(run.transcript(), r.said);
        EXPECT_EQ(run.events().at(0)["type"], r.said.empty() ? "ready" : "error");
        if (!r.said.empty()) continue;
        EXPECT_EQ(
            run.events().at(0),
            (nlohmann::json{{"type", "ready"}, {"locale", "fr-FR"}, {"onDevice", r.onDevice}}));
        const auto& settings = run.current().settings;
        EXPECT_TRUE(settings.shouldReportPartialResults);
        EXPECT_EQ(settings.taskHint, platform::TaskHint::dictation);
        EXPECT_EQ(settings.requiresOnDeviceRecognition, r.requiresOnDevice);
        EXPECT_EQ(settings.addsPunctuation, r.punctuation);
        EXPECT_EQ(settings.contextualStrings, r.contextual);
    }
}

// Segments closed at pauses; their finals come in `order` (those left out are
// settled by the stop). Line feeds trimmed off a final go before the next
// final written, up to two; the run's last ones are dropped.
TEST(LineBreaks, FeedsTrimmedOffGoBeforeTheNextFinalWritten) {
    for (const auto& [segments, order, finals] :
         std::vector<std::tuple<std::vector<std::string>, std::vector<std::size_t>, std::string>>{
             {{" \n \nHi. \n", "Bye.\n\n", "See you."}, {0, 1, 2}, "2:Hi. | 1:Bye. | 2:See you."},
             {{"Thanks.", "\n\n", "See you.", "Bye."}, {0, 1, 2, 3}, "Thanks. | 2:See you. | Bye."},
             {{"Thanks.\n", "\n\n", "\nSee you."}, {0, 1, 2}, "Thanks. | 2:See you."},
             {{"One.\n\n", "Two.", "Three."}, {1, 0, 2}, "Two. | One. | 2:Three."},
             {{"One.", "\n", "Two.", "\n\n"}, {0}, "One. | 1:Two."},
         }) {
        sim::Run run;
        run.start();
        for (const auto& text : segments) run.say(text, 1.5);
        for (std::size_t i : order) run.task(i).final(segments[i]);
        run.stop();
        run.runLoop.advance(2.5);
        EXPECT_EQ(std::regex_replace(run.transcript(), std::regex("partial:[^|]*\\| |final:"), ""),
                  finals + " | end");
    }
}

TEST_F(Session, NoBufferReachesARequestAfterItsAudioEnded) {
    std::atomic<bool> done = false;
    std::thread audio([&] {
        while (!done) run.engine().feed();
    });
    for (int i = 0; i < 200; ++i) run.say("word " + std::to_string(i), 1.3);
    done = true;
    audio.join();
    for (auto& task : run.recognizer().tasks) EXPECT_EQ(task->request->afterEnd, 0);
}

TEST_F(Session, TheAgeCapClosesASegmentWithTextAndRenewsASilentOne) {
    for (int second = 0; second < 44; ++second) run.say("word " + std::to_string(second), 1.0);
    run.say("word 44", 0.9);
    EXPECT_EQ(run.recognizer().tasks.size(), 1u);
    run.say("word 45", 0.4);
    ASSERT_EQ(run.recognizer().tasks.size(), 2u) << "cut while the text still changes";
    EXPECT_EQ(run.task(0).request->endCalls, 1);

    run.runLoop.advance(45.3);  // silence for a whole segment
    ASSERT_EQ(run.recognizer().tasks.size(), 3u);
    EXPECT_TRUE(run.task(1).cancelled);
    EXPECT_EQ(run.task(1).request->endCalls, 0);
    run.task(1).partial("stale");
    run.task(1).final("stale");
    run.task(1).error("stale");
    EXPECT_TRUE(run.transcript().ends_with("partial:word 45"));
}

TEST_F(Session, ErrorsOfTheCurrentRequestSettleItsTextAndTheFifthInSixSecondsEndsTheRun) {
    run.say("owed", 1.3);
    run.task(0).error("lost");  // a closed request's error settles its text, uncounted
    run.current().partial("heard");
    for (int i = 0; i < 4; ++i) {
        run.current().error("busy");
        run.runLoop.advance(1.0);
    }
    EXPECT_FALSE(run.runLoop.status);
    EXPECT_EQ(run.recognizer().tasks.size(), 6u);
    run.current().error("busy");
    run.engine().feed();  // the tap stays, but nothing follows "end"
    EXPECT_EQ(run.transcript(),
              "partial:owed | final:owed | partial:heard | final:heard | "
              "error:recognizer:La reconnaissance s'interrompt sans cesse : busy | end");
    EXPECT_EQ(run.runLoop.status, 1);
}

TEST_F(Stop, NothingHeardNothingOwedEndsAtOnceWithTheAudioTornDown) {
    run.stop();
    EXPECT_EQ(run.transcript(), "end");
    EXPECT_EQ(run.runLoop.status, 0);
    EXPECT_FALSE(run.engine().tap);
    EXPECT_FALSE(run.engine().running);
    EXPECT_TRUE(run.current().cancelled);
}

TEST(StopDrain, AFinalInTimeEndsBeforeTheDeadlineAndNoFinalFlushesTheLatestText) {
    for (bool finalComes : {true, false}) {
        sim::Run run;
        run.start();
        run.current().partial("hello");
        run.stop();
        // The request closed at the stop still hears speech from before it.
        run.say("hello there", 1.0);
        if (finalComes) run.current().final("Hello there.");
        EXPECT_EQ(run.runLoop.status, (finalComes ? std::optional(0) : std::nullopt));
        run.engine().feed();
        run.runLoop.advance(1.6);
        run.engine().feed();  // after "end": no level
        EXPECT_EQ(run.runLoop.status, 0);
        EXPECT_EQ(run.transcript(), std::string("partial:hello | partial:hello there | final:") +
                                        (finalComes ? "Hello there." : "hello there") + " | end");
        EXPECT_EQ(run.task(0).request->endCalls, 1) << "the watchdog is idle while stopping";
        EXPECT_FALSE(run.engine().tap);
    }
}

TEST_F(Stop, OwedSegmentsAreWrittenAsTheirResultsComeAndTheRestInSpokenOrderAtTheDeadline) {
    for (const char* words : {"one", "same", "same", " ", "five", "six"}) run.say(words, 1.5);
    run.stop();  // nothing heard in the current segment: its request is dropped
    auto& dropped = run.current();
    run.engine().feed();
    EXPECT_EQ(dropped.request->buffers, 0);
    run.task(4).final("Five.");
    run.task(5).error("gone");  // settles its text
    dropped.error("late");      // owes nothing: changes nothing
    run.runLoop.advance(2.5);
    EXPECT_EQ(run.transcript(),
              "partial:one | partial:same | partial:same | partial:  | partial:five | "
              "partial:six | final:Five. | final:six | final:one | final:same | final:same | end");
    EXPECT_EQ(run.runLoop.status, 0);
}

TEST_F(Faults, ASecondSignalEndsTheStopAtOnce) {
    run.current().partial("hello");
    run.process.terminate();
    run.runLoop.advance(1.0);
    EXPECT_EQ(run.transcript(), "partial:hello");
    run.process.terminate();
    EXPECT_EQ(run.transcript(), "partial:hello | final:hello | end");
    EXPECT_EQ(run.runLoop.status, 0);
    EXPECT_FALSE(run.engine().tap);
}

TEST(LostMicrophone, WhatIsOwedIsSettledOnceThenTheRunEndsWithNoMic) {
    // While stopping, the stop's own segment has had its final, written as it came; the
    // earlier one, still owed, is settled after it.
    for (auto [stopping, finals] :
         {std::pair{false, "final:one | final:two"}, {true, "final:Two. | final:one"}}) {
        sim::Run run;
        run.start();
        run.say("one", 1.5);
        run.current().partial("two");
        if (stopping) run.stop(), run.current().final("Two.");
        run.engine().stopped(platform::Error{"Connection terminated"});
        run.runLoop.advance(0);
        EXPECT_EQ(run.transcript(), std::string("partial:one | partial:two | ") + finals +
                                        " | error:no-mic:Aucun micro utilisable | end");
        EXPECT_EQ(run.runLoop.status, 1);
    }
}

}  // namespace
}  // namespace scrivia
