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

// Three recordings with pauses: one final each, in order, with most of the
// engine's own words, though the host reads the first live and then nothing
// for 30 s on a small pipe that fills soon. Read live, a partial comes before
// the final.
TEST_F(LiveDictation, EachRecordingBecomesOneFinalEvenWhenTheHostStalls) {
    const std::vector<std::string> paths = {recordingPath("0880"), recordingPath("0920"),
                                            recordingPath("0890")};
    std::vector<Samples> speech;
    for (const auto& path : paths) speech.push_back(readWav(path));
    // Decoded before scrivia starts, so as not to slow it down on 2 cores.
    const auto reference = referenceTexts(speech);
    const double first = double(speech[0].size()) / 16000;  // then 3 s, past the 1.2 s pause
    Scrivia run = start();
    ASSERT_EQ(fcntl(run.child.stdoutPipe(), F_SETPIPE_SZ, 4096), 4096);
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed({paths[0], "silence:3", paths[1], "silence:3", paths[2], "silence:3"});
    run.until(nullptr, SteadyClock::now() + std::chrono::milliseconds(int(1000 * (first + 2.7))));
    std::this_thread::sleep_for(30s);
    run.child.send("stop\n");
    EXPECT_EQ(run.finish(), 0);
    SCOPED_TRACE(run.output);
    EXPECT_EQ(run.summary(), "ready en-US final end");
    std::vector<std::string> finals;
    for (const json& e : run.events)
        if (is("final")(e)) finals.push_back(e.value("text", ""));
    ASSERT_EQ(finals.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_GE(sharedInOrder(reference[i], finals[i]), 0.6) << reference[i];
    EXPECT_LT(run.output.find(R"("type":"partial")"), run.output.find(R"("type":"final")"));
}

// However the run is asked to end mid-sentence, or loses its microphone for
// good, what was heard so far comes as a final before "end". A second signal
// does not wait for the decoder; the monitor of the speaker is never recorded
// unasked.
TEST_F(LiveDictation, EveryEndMidSentenceDeliversTheOwedText) {
    const auto unload = [](Scrivia&) {
        ASSERT_TRUE(pulse_->pactl({"unload-module", "module-pipe-source"}));
        std::this_thread::sleep_for(1500ms);  // well into the 3 s spent looking for a source
        EXPECT_EQ(pulse_->pactl({"list", "short", "source-outputs"}), "")
            << "the monitor is recorded";
    };
    for (const auto& [how, act, status, within] :
         std::initializer_list<std::tuple<const char*, std::function<void(Scrivia&)>, int, int>>{
             {"stop line", [](Scrivia& run) { run.child.send("stop\n"); }, 0, 60},
             {"end of input", [](Scrivia& run) { run.child.closeStdin(); }, 0, 60},
             {"SIGINT", [](Scrivia& run) { kill(run.child.pid, SIGINT); }, 0, 60},
             {"two signals",
              [](Scrivia& r) { kill(r.child.pid, SIGTERM), kill(r.child.pid, SIGINT); }, 0, 1},
             {"server killed", [](Scrivia&) { ASSERT_TRUE(pulse_->kill()); }, 1, 5},
             {"source unloaded", unload, 1, 5}}) {
        SCOPED_TRACE(how);
        feeder.reset();  // the last row's sentence must not go on into this one
        pulse_->drain();
        Scrivia run = start({"--locale", "en-US"});
        ASSERT_NO_FATAL_FAILURE(expectListening(run));
        // A long sentence (7.1 s without a pause), until a partial of four
        // words or more, well before it is over.
        feeder = pulse_->feed({recordingPath("0870")});
        const auto spoken = SteadyClock::now();
        auto said = run.until([](const json& e) {
            return is("partial")(e) && words(e.value("text", "")).size() >= 4;
        });
        ASSERT_TRUE(said) << run.output;
        ASSERT_LT(SteadyClock::now() - spoken, 6s) << "the sentence was over before the partial";
        const auto asked = SteadyClock::now();
        act(run);
        EXPECT_EQ(run.finish(), status);
        EXPECT_LT(SteadyClock::now() - asked, std::chrono::seconds(within));
        EXPECT_EQ(run.summary(), status ? "ready en-US final no-mic end" : "ready en-US final end")
            << run.output;
        const auto owed = std::find_if(run.events.begin(), run.events.end(), is("final"));
        ASSERT_NE(owed, run.events.end()) << run.output;
        EXPECT_GE(sharedInOrder(said->value("text", ""), owed->value("text", "")), 0.5)
            << run.output;
        ASSERT_TRUE(status == 0 || pulse_->restart());  // the microphone back for the next row
    }
}

}  // namespace
