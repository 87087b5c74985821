// build/scrivia as a host application runs it: a child process with piped
// standard input, listening to the private server of scripts/private-pulse.sh
// whose microphone plays real recordings at real-time pace. What it hears is
// compared with what the same engine makes of the same files, not with the
// human transcripts: the live program cannot be asked to beat its own engine.
#include <gtest/gtest.h>

#include "support/recordings.h"
#include "support/scrivia_run.h"

namespace {

using namespace scrivia::testing;

class LiveDictation : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { pulse_ = std::make_unique<PrivatePulse>(); }
    static void TearDownTestSuite() { pulse_.reset(); }
    void SetUp() override { pulse_->drain(); }

    static Scrivia start(std::vector<std::string> args = {}) {
        auto env = pulse_->clientEnvironment();
        env.push_back("LANG=en_US.UTF-8");
        return Scrivia(std::move(args), std::move(env));
    }
    // Waits for "ready" (levels may come first, no text can) and for the
    // program to record from the microphone.
    static void expectListening(Scrivia& run) {
        auto ready = run.until([](const json& e) { return !is("level")(e); });
        ASSERT_TRUE(ready) << "no event but levels before the bound";
        EXPECT_EQ(ready->dump(), R"({"locale":"en-US","onDevice":true,"type":"ready"})");
        ASSERT_TRUE(pulse_->waitUntilRecording(SteadyClock::now() + kBound));
    }

    static inline std::unique_ptr<PrivatePulse> pulse_;
    std::unique_ptr<ChildProcess> feeder;
};

// Three recordings with pauses: one final each, in order, with most of the
// engine's own words, though the host reads the first live and then nothing
// for 30 s on a small pipe that fills soon. Read live, levels follow the voice
// and a partial comes before the final.
TEST_F(LiveDictation, EachRecordingBecomesOneFinalEvenWhenTheHostStalls) {
    const std::vector<std::string> ids = {"0880", "0920", "0890"};
    std::vector<Samples> speech;
    for (const auto& id : ids) speech.push_back(readWav(recordingPath(id)));
    // Decoded before scrivia starts, so as not to slow it down on 2 cores.
    const auto reference = referenceTexts(speech);
    const double first = double(speech[0].size()) / 16000;  // then 3 s, past the 1.2 s pause
    Scrivia run = start();
    ASSERT_EQ(fcntl(run.child.stdoutPipe(), F_SETPIPE_SZ, 4096), 4096);
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed({recordingPath(ids[0]), "silence:3", recordingPath(ids[1]), "silence:3",
                           recordingPath(ids[2]), "silence:3"});
    const auto spoken = SteadyClock::now();
    run.until(nullptr, spoken + std::chrono::milliseconds(int(1000 * (first + 2.7))));
    std::this_thread::sleep_for(30s);
    run.child.send("stop\n");
    EXPECT_EQ(run.finish(), 0);
    SCOPED_TRACE(run.dump());
    EXPECT_EQ(run.summary(), "ready final end");
    const auto finals = run.texts("final");
    ASSERT_EQ(finals.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_GE(sharedInOrder(reference[i], finals[i]), 0.6) << reference[i];
    // Levels in [0, 1], louder in the first recording than in the pause after
    // it (with a wide margin for latency), by the time they were read.
    double loudest[2] = {0, 0};  // the first recording, the pause
    for (std::size_t i = 0; i < run.events.size(); ++i) {
        if (!is("level")(run.events[i])) continue;
        const double value = run.events[i].value("value", -1.0);
        EXPECT_TRUE(value >= 0 && value <= 1) << value;
        const double t = std::chrono::duration<double>(run.times[i] - spoken).count();
        if ((t > 0.3 && t < first) || (t > first + 1.5 && t < first + 2.7))
            loudest[t > first] = std::max(loudest[t > first], value);
    }
    EXPECT_GT(loudest[0], loudest[1]);
    const std::string all = run.dump();
    EXPECT_LT(all.find(R"("type":"partial")"), all.find(R"("type":"final")"));
}

// However the run is asked to end mid-sentence, or loses its microphone for
// good, what was heard so far comes as a final before "end". A second signal
// does not wait for the decoder; a server back within a second is recorded
// again; the monitor of the speaker is never recorded unasked.
TEST_F(LiveDictation, EveryEndMidSentenceDeliversTheOwedText) {
    const auto signals = [](std::vector<int> numbers) {
        return [=](Scrivia& run) {
            for (int number : numbers) kill(run.child.pid, number);
        };
    };
    const auto unload = [](Scrivia&) {
        ASSERT_TRUE(pulse_->pactl({"unload-module", "module-pipe-source"}));
        for (int i = 0; i < 5; ++i) {  // only the monitor is left to record
            std::this_thread::sleep_for(300ms);
            EXPECT_EQ(pulse_->pactl({"list", "short", "source-outputs"}), "");
        }
    };
    const auto restart = [this](Scrivia& run) {
        ASSERT_TRUE(pulse_->kill());
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(pulse_->restart());
        feeder = pulse_->feed({recordingPath("0880"), "silence:2"});
        EXPECT_TRUE(run.until([](const json& e) {
            return is("final")(e) &&
                   sharedInOrder("he was not an ill disposed young man", field(e, "text")) >= 0.5;
        })) << "no final from a recording after the restart";
        run.child.send("stop\n");
    };
    for (const auto& [how, act, status, within] :
         std::initializer_list<std::tuple<const char*, std::function<void(Scrivia&)>, int, int>>{
             {"stop line", [](Scrivia& run) { run.child.send("stop\n"); }, 0, 60},
             {"end of input", [](Scrivia& run) { run.child.closeStdin(); }, 0, 60},
             {"SIGINT", signals({SIGINT}), 0, 60},
             {"SIGTERM", signals({SIGTERM}), 0, 60},
             {"SIGHUP", signals({SIGHUP}), 0, 60},
             {"two signals", signals({SIGTERM, SIGINT}), 0, 1},
             {"server killed", [](Scrivia&) { ASSERT_TRUE(pulse_->kill()); }, 1, 5},
             {"source unloaded", unload, 1, 5},
             {"server restarted", restart, 0, 60}}) {
        SCOPED_TRACE(how);
        pulse_->drain();
        Scrivia run = start({"--locale", "en-US"});
        ASSERT_NO_FATAL_FAILURE(expectListening(run));
        // A long sentence (7.1 s without a pause), until a partial of four
        // words or more, well before it is over.
        feeder = pulse_->feed({recordingPath("0870")});
        const auto spoken = SteadyClock::now();
        auto said = run.until(
            [](const json& e) { return is("partial")(e) && words(field(e, "text")).size() >= 4; });
        ASSERT_TRUE(said) << run.dump();
        ASSERT_LT(SteadyClock::now() - spoken, 6s) << "the sentence was over before the partial";
        const auto asked = SteadyClock::now();
        act(run);
        EXPECT_EQ(run.finish(), status);
        EXPECT_LT(run.times.back() - asked, std::chrono::seconds(within));
        EXPECT_EQ(run.summary(), status ? "ready final no-mic end" : "ready final end")
            << run.dump();
        const auto finals = run.texts("final");
        ASSERT_FALSE(finals.empty()) << run.dump();
        EXPECT_GE(sharedInOrder(field(*said, "text"), finals[0]), 0.5) << run.dump();
        if (status == 1) {
            ASSERT_TRUE(pulse_->restart());
        }
    }
}

// A host that closes its end of stdout ends the run at once, leaving nothing recording.
TEST_F(LiveDictation, ClosedStdoutEndsTheRunAndTheRecording) {
    Scrivia run = start();
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed();
    run.child.closeStdout();
    EXPECT_EQ(run.child.wait(SteadyClock::now() + 1s), 1);
    EXPECT_EQ(run.child.errors(), "");
    EXPECT_EQ(pulse_->pactl({"list", "short", "source-outputs"}), "");
}

TEST(ImmediateEnd, FailsWithTheRightCode) {
    for (
        const auto& [args, error] :
        std::initializer_list<std::pair<std::vector<std::string>, std::string>>{
            {{"--locale", "xx_XX"},
             R"({"code":"unsupported","message":"Langue non prise en charge par la dictée : xx_XX","type":"error"})"},
            {{}, R"({"code":"no-mic","message":"Aucun micro utilisable","type":"error"})"}}) {
        Scrivia run(args, kNoServer);
        EXPECT_EQ(run.finish(), 1);
        EXPECT_EQ(run.dump(), error + "\n{\"type\":\"end\"}\n");
    }
}

}  // namespace
