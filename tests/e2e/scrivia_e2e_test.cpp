// build/scrivia as a host application runs it: a child process with piped
// standard input, listening to the private server of scripts/private-pulse.sh
// whose microphone plays real recordings at real-time pace. What it hears is
// compared with what the same engine makes of the same files, not with the
// human transcripts: the live program cannot be asked to beat its own engine.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/private_pulse.h"
#include "support/recordings.h"
#include "support/scrivia_run.h"

namespace {

using namespace scrivia::testing;

class LiveDictation : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { pulse_ = std::make_unique<PrivatePulse>(); }
    static void TearDownTestSuite() { pulse_.reset(); }
    void SetUp() override { pulse_->drain(); }

    static std::vector<std::string> environment() {
        auto env = pulse_->clientEnvironment();
        env.push_back("LANG=en_US.UTF-8");
        return env;
    }
    // Waits for "ready" (levels may come first, no text can) and for the
    // program to record from the microphone.
    static void expectListening(Scrivia& run) {
        auto deadline = SteadyClock::now() + kBound;
        auto ready = run.until([](const json& e) { return field(e, "type") != "level"; }, deadline);
        ASSERT_TRUE(ready) << "no event but levels before the bound";
        EXPECT_EQ(*ready, kReady);
        ASSERT_TRUE(pulse_->waitUntilRecording(deadline)) << "no recording from the default source";
    }
    // Starts speaking a long sentence (7.1 s without a pause) and waits for a
    // partial of four words or more, well before the sentence is over.
    void speakUntilPartial(Scrivia& run) {
        ASSERT_NO_FATAL_FAILURE(expectListening(run));
        feeder = pulse_->feed({recordingPath("0870")});
        const auto spoken = SteadyClock::now();
        ASSERT_TRUE(run.until(
            [](const json& e) {
                return field(e, "type") == "partial" && words(field(e, "text")).size() >= 4;
            },
            SteadyClock::now() + kBound))
            << run.dump();
        ASSERT_LT(SteadyClock::now() - spoken, 6s) << "the sentence was over before the partial";
        said = field(run.events.back(), "text");
        saidAt = run.events.size();
    }
    // The first final after the partial carries its words (the decoder may
    // still revise a word or two as it settles); where it is.
    std::size_t expectOwedFinal(const Scrivia& run) const {
        for (std::size_t i = saidAt; i < run.events.size(); ++i) {
            if (field(run.events[i], "type") != "final") continue;
            EXPECT_GE(sharedInOrder(said, field(run.events[i], "text")), 0.5) << run.dump();
            return i;
        }
        ADD_FAILURE() << "no final after the partial\n" << run.dump();
        return run.events.size();
    }

    static inline std::unique_ptr<PrivatePulse> pulse_;
    std::unique_ptr<ChildProcess> feeder;
    std::string said;        // the partial that speakUntilPartial waited for
    std::size_t saidAt = 0;  // the number of events up to it
};

// Three recordings with pauses, read live or by a host that reads nothing for
// 30 s (a small pipe: it fills at once): one final each, in order, with most
// of the engine's own words; read live, levels follow the voice and partials
// come first.
TEST_F(LiveDictation, EachRecordingBecomesOneFinalEvenWhenTheHostStalls) {
    const std::vector<std::string> ids = {"0880", "0920", "0890"};
    std::vector<Samples> speech;
    for (const auto& id : ids) speech.push_back(readWav(recordingPath(id)));
    // Decoded before scrivia starts, so as not to slow it down on 2 cores.
    const auto reference = referenceTexts(speech);
    const double first = double(speech[0].size()) / 16000, gap = 3;  // past the 1.2 s pause
    for (bool stall : {false, true}) {
        SCOPED_TRACE(stall ? "stalled" : "live");
        pulse_->drain();
        Scrivia run({}, environment());
        if (stall) {
            ASSERT_EQ(fcntl(run.child.stdoutPipe(), F_SETPIPE_SZ, 4096), 4096);
        }
        ASSERT_NO_FATAL_FAILURE(expectListening(run));
        feeder = pulse_->feed({recordingPath(ids[0]), "silence:3", recordingPath(ids[1]),
                               "silence:3", recordingPath(ids[2]), "silence:3"});
        const auto speechStart = SteadyClock::now();
        if (stall) std::this_thread::sleep_for(30s);
        run.until(nullptr, speechStart + 30s);  // read as they come: arrival times place levels
        run.child.send("stop\n");
        EXPECT_EQ(run.finish(), 0);
        SCOPED_TRACE(run.dump());
        ASSERT_FALSE(run.events.empty());
        EXPECT_EQ(run.events.back(), kEnd);
        EXPECT_TRUE(run.ofType("error").empty());
        const auto finals = run.ofType("final");
        ASSERT_EQ(finals.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(finals[i].size(), 2u) << finals[i];
            EXPECT_GE(sharedInOrder(reference[i], field(finals[i], "text")), 0.6) << reference[i];
        }
        if (stall) continue;
        // Levels in [0, 1], louder in the first recording than in the pause
        // after it (with a wide margin for latency).
        double loudest[2] = {0, 0};  // the first recording, the pause
        for (std::size_t i = 0; i < run.events.size(); ++i) {
            if (field(run.events[i], "type") != "level") continue;
            ASSERT_TRUE(run.events[i]["value"].is_number()) << run.events[i];
            const double value = run.events[i]["value"];
            EXPECT_TRUE(value >= 0 && value <= 1) << value;
            const double t = std::chrono::duration<double>(run.times[i] - speechStart).count();
            if (t > 0.3 && t < first) loudest[0] = std::max(loudest[0], value);
            if (t > first + 1.5 && t < first + gap - 0.3) loudest[1] = std::max(loudest[1], value);
        }
        EXPECT_GT(loudest[0], loudest[1]);
        auto firstFinal = std::find_if(run.events.begin(), run.events.end(),
                                       [](const json& e) { return field(e, "type") == "final"; });
        EXPECT_TRUE(std::any_of(run.events.begin(), firstFinal, [](const json& e) {
            return field(e, "type") == "partial" && !field(e, "text").empty();
        })) << "no partial before the first final";
    }
}

// However the host asks for the end mid-sentence, what was heard so far comes
// as a final before "end"; a second signal does not wait for the decoder.
TEST_F(LiveDictation, StopMidSentenceDeliversTheOwedTextThenEnds) {
    struct Row {
        const char* how;
        int signal;
        bool twice;
    };
    for (const Row& row : {Row{"stop line", 0, false}, Row{"end of input", 0, false},
                           Row{"SIGINT", SIGINT, false}, Row{"SIGTERM", SIGTERM, false},
                           Row{"SIGHUP", SIGHUP, false}, Row{"two signals", SIGTERM, true}}) {
        SCOPED_TRACE(row.how);
        pulse_->drain();
        Scrivia run({"--locale", "en-US"}, environment());
        ASSERT_NO_FATAL_FAILURE(speakUntilPartial(run));
        if (row.signal != 0) kill(run.child.pid, row.signal);
        if (row.twice) kill(run.child.pid, SIGINT);
        if (row.signal == 0)
            row.how[0] == 's' ? (void)run.child.send("stop\n") : run.child.closeStdin();
        const auto asked = SteadyClock::now();
        EXPECT_EQ(run.finish(), 0);
        EXPECT_EQ(run.events.back(), kEnd) << run.dump();
        EXPECT_TRUE(run.ofType("error").empty()) << run.dump();
        expectOwedFinal(run);
        if (row.twice) {
            EXPECT_LT(run.times.back() - asked, 1s) << "the second signal waited";
        }
    }
}

// The microphone lost mid-sentence: the server killed for good, or killed and
// back within a second, or the microphone unloaded with only the monitor of
// the speaker left (never recorded: the user did not choose it).
TEST_F(LiveDictation, LostMicrophoneEndsWithNoMicUnlessItComesBack) {
    enum Fault { killed, restarted, unloaded };
    for (Fault fault : {killed, restarted, unloaded}) {
        SCOPED_TRACE(fault);
        pulse_->drain();
        Scrivia run({}, environment());
        ASSERT_NO_FATAL_FAILURE(speakUntilPartial(run));
        const auto lost = SteadyClock::now();
        if (fault != unloaded) {
            ASSERT_TRUE(pulse_->kill());
        }
        if (fault == restarted) {
            std::this_thread::sleep_for(300ms);
            ASSERT_TRUE(pulse_->restart());
            feeder = pulse_->feed({recordingPath("0880"), "silence:2"});
            EXPECT_TRUE(run.until(
                [](const json& e) {
                    return field(e, "type") == "final" &&
                           sharedInOrder("he was not an ill disposed young man",
                                         field(e, "text")) >= 0.5;
                },
                SteadyClock::now() + kBound))
                << "no final from a recording after the restart\n"
                << run.dump();
            run.child.send("stop\n");
            EXPECT_EQ(run.finish(), 0);
            EXPECT_TRUE(run.ofType("error").empty()) << run.dump();
            continue;
        }
        if (fault == unloaded) {
            // "3\tmodule-pipe-source\tsource_name=mic ..." and "0\tspeaker.monitor\t..."
            const auto modules = pulse_->pactl({"list", "short", "modules"}).value_or("");
            const auto at = modules.rfind('\n', modules.find("\tmodule-pipe-source")) + 1;
            ASSERT_TRUE(
                pulse_->pactl({"unload-module", modules.substr(at, modules.find('\t', at) - at)}));
            const auto sources = pulse_->pactl({"list", "short", "sources"}).value_or("");
            const auto monitor = "\t" + sources.substr(0, sources.find('\t')) + "\t";
            ASSERT_NE(sources.find("\tspeaker.monitor\t"), std::string::npos) << sources;
            for (int i = 0; i < 5; ++i) {
                std::this_thread::sleep_for(300ms);  // past the server's own move to the monitor
                const auto outputs =
                    pulse_->pactl({"list", "short", "source-outputs"}).value_or("");
                EXPECT_EQ(outputs.find(monitor), std::string::npos)
                    << "the monitor is recorded: " << outputs;
            }
        }
        EXPECT_EQ(run.finish(), 1);
        EXPECT_LT(run.times.back() - lost, 5s);
        ASSERT_GE(run.events.size(), 2u);
        const std::size_t owed = expectOwedFinal(run);
        const json& error = run.events[run.events.size() - 2];
        EXPECT_EQ(field(error, "code"), "no-mic") << run.dump();
        EXPECT_LT(owed, run.events.size() - 2) << "the owed final did not come before the error";
        EXPECT_EQ(run.events.back(), kEnd);
        ASSERT_TRUE(pulse_->restart());
    }
}

// A host that closes its end of stdout ends the run at once, leaving nothing recording.
TEST_F(LiveDictation, ClosedStdoutEndsTheRunAndTheRecording) {
    Scrivia run({}, environment());
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed();
    run.child.closeStdout();
    EXPECT_EQ(run.child.wait(SteadyClock::now() + 1s), 1);
    EXPECT_EQ(run.child.errors(), "");
    EXPECT_EQ(pulse_->pactl({"list", "short", "source-outputs"}), "");
}

// Runs that end at once: a locale without a model, and (PULSE_SERVER naming a
// socket that does not exist, so no real server is reached either) no server.
TEST(ImmediateEnd, ListsLocalesOrFailsWithTheRightCode) {
    const std::vector<std::string> noServer = {"PATH=/usr/bin:/bin", "HOME=/nonexistent",
                                               "LANG=en_US.UTF-8",
                                               "PULSE_SERVER=unix:/nonexistent/scrivia/native"};
    Scrivia list({"--list"}, noServer);
    EXPECT_EQ(list.finish(), 0);
    ASSERT_EQ(list.events.size(), 1u) << list.dump();
    const json want = {{"type", "locales"}, {"locales", {"en-US"}}, {"onDevice", {"en-US"}}};
    EXPECT_EQ(list.events[0], want);
    for (auto [args, code] :
         {std::pair<std::vector<std::string>, std::string>{{"--locale", "xx_XX"}, "unsupported"},
          {{}, "no-mic"}}) {
        Scrivia run(args, noServer);
        EXPECT_EQ(run.finish(), 1);
        ASSERT_EQ(run.events.size(), 2u) << run.dump();
        EXPECT_EQ(field(run.events[0], "type"), "error");
        EXPECT_EQ(field(run.events[0], "code"), code);
        EXPECT_NE(field(run.events[0], "message"), "");
        EXPECT_EQ(run.events[0].size(), 3u) << run.events[0];
        EXPECT_EQ(run.events[1], kEnd);
    }
}

}  // namespace
