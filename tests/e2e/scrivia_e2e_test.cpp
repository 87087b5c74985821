// build/scrivia as a host application runs it: a child process with piped
// standard streams, listening to a private PulseAudio server whose microphone
// plays real recordings at real-time pace. What it hears is compared with what
// the same engine makes of the same files in one batch run, not with the human
// transcripts: the live program cannot be asked to beat its own engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/private_pulse.h"

namespace {

using json = nlohmann::json;
using namespace scrivia::testing;

// Bounds every wait, so that a hang fails the test instead of blocking CI.
constexpr auto kBound = 60s;

std::filesystem::path recording(const std::string& id) {
    return std::filesystem::path(SCRIVIA_TEST_DATA_DIR) / "librivox" /
           ("sense_and_sensibility_01_austen_64kb-" + id + ".wav");
}

// Lower-case words; punctuation and capitals are the program's to choose.
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    std::string word;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '\'') {
            word += char(std::tolower(u));
        } else if (!word.empty()) {
            result.push_back(std::exchange(word, {}));
        }
    }
    if (!word.empty()) result.push_back(word);
    return result;
}

// The share of `reference`'s words that `heard` has, in the same order
// (longest common subsequence over the reference's length).
double sharedInOrder(const std::vector<std::string>& reference,
                     const std::vector<std::string>& heard) {
    if (reference.empty()) return 0;
    std::vector<std::size_t> row(heard.size() + 1, 0), previous(heard.size() + 1, 0);
    for (const auto& r : reference) {
        for (std::size_t j = 1; j <= heard.size(); ++j) {
            row[j] = r == heard[j - 1] ? previous[j - 1] + 1 : std::max(row[j - 1], previous[j]);
        }
        std::swap(row, previous);
    }
    return double(previous[heard.size()]) / double(reference.size());
}

// What the same engine and model make of a whole file in one batch run.
std::vector<std::string> batchWords(const std::filesystem::path& file) {
    ChildProcess batch(
        {"/usr/bin/pocketsphinx_continuous", "-infile", file.string(), "-logfn", "/dev/null"},
        {"PATH=/usr/bin:/bin"});
    batch.closeStdin();
    auto deadline = SteadyClock::now() + kBound;
    std::string output = batch.readRest(deadline);
    EXPECT_EQ(batch.wait(deadline), 0) << "pocketsphinx_continuous failed";
    return words(output);
}

// The string at `key`, or "" when there is none.
std::string stringAt(const json& event, const char* key) {
    auto value = event.find(key);
    return value != event.end() && value->is_string() ? value->get<std::string>() : "";
}
const auto typeOf = [](const json& event) { return stringAt(event, "type"); };
const auto textOf = [](const json& event) { return stringAt(event, "text"); };

// One run of build/scrivia; every event it prints is kept in order, with the
// time it was read.
class Scrivia {
  public:
    Scrivia(std::vector<std::string> args, std::vector<std::string> environment)
        : child_((args.insert(args.begin(), SCRIVIA_BINARY), args), std::move(environment)) {}

    // Reads events until one satisfies `wanted` (with none given, until the
    // deadline or the end of output).
    std::optional<json> until(const std::function<bool(const json&)>& wanted,
                              SteadyClock::time_point deadline) {
        while (auto line = child_.readLine(deadline)) {
            json event = json::parse(*line, nullptr, false);
            if (!event.is_object() || !event["type"].is_string()) {
                ADD_FAILURE() << "not an event line: " << *line;
                event = {{"type", ""}};
            }
            events.push_back(event);
            times.push_back(SteadyClock::now());
            if (wanted && wanted(event)) return event;
        }
        return std::nullopt;
    }

    // Reads to the end of output, then waits for the exit; the exit status, or
    // nullopt if either outlives the bound. Nothing may reach stderr.
    std::optional<int> finish() {
        auto deadline = SteadyClock::now() + kBound;
        until(nullptr, deadline);
        EXPECT_TRUE(child_.stdoutClosed()) << "stdout still open after " << kBound.count() << " s";
        auto status = child_.wait(deadline);
        EXPECT_EQ(child_.stderrText(), "") << "scrivia wrote to stderr";
        return status;
    }

    void send(std::string_view line) { EXPECT_TRUE(child_.writeStdin(line)); }
    void closeInput() { child_.closeStdin(); }

    std::vector<json> ofType(const std::string& type) const {
        std::vector<json> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                     [&](const json& e) { return typeOf(e) == type; });
        return found;
    }

    std::vector<json> events;
    std::vector<SteadyClock::time_point> times;

  private:
    ChildProcess child_;
};

std::string dump(const std::vector<json>& events) {
    std::string text;
    for (const auto& e : events) text += e.dump() + "\n";
    return text;
}

const json kReady = {{"type", "ready"}, {"locale", "en-US"}, {"onDevice", true}};
const json kEnd = {{"type", "end"}};

// A run that fails at once: exit status 1, one error with `code`, then end.
void expectFatal(Scrivia& run, const std::string& code) {
    EXPECT_EQ(run.finish(), 1);
    const auto& events = run.events;
    ASSERT_EQ(events.size(), 2u) << dump(events);
    EXPECT_EQ(typeOf(events[0]), "error") << events[0];
    EXPECT_EQ(stringAt(events[0], "code"), code) << events[0];
    EXPECT_NE(stringAt(events[0], "message"), "") << events[0];
    EXPECT_EQ(events[0].size(), 3u) << "not just type, code and message: " << events[0];
    EXPECT_EQ(events[1], kEnd);
}

// ---------------------------------------------------------------------------
// Dictation from a microphone
// ---------------------------------------------------------------------------

constexpr unsigned kRate = 16000;

class LiveDictation : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { pulse_ = std::make_unique<PrivatePulse>(kRate, 1); }
    static void TearDownTestSuite() { pulse_.reset(); }
    void SetUp() override { pulse_->clear(); }
    void TearDown() override { pulse_->clear(); }

    static std::vector<std::string> environment() {
        auto env = pulse_->clientEnvironment();
        env.push_back("LANG=en_US.UTF-8");
        return env;
    }

    // Waits for "ready" and for the program to record from the microphone.
    static void expectListening(Scrivia& run) {
        auto deadline = SteadyClock::now() + kBound;
        // The microphone runs just before "ready" is written, so levels may
        // come first; no text can.
        auto ready = run.until([](const json& e) { return typeOf(e) != "level"; }, deadline);
        ASSERT_TRUE(ready) << "no event but levels before the bound";
        EXPECT_EQ(*ready, kReady) << "the first event other than a level is not ready";
        ASSERT_TRUE(pulse_->waitUntilRecording(deadline))
            << "scrivia does not record from the default source";
    }

    static inline std::unique_ptr<PrivatePulse> pulse_;
};

TEST_F(LiveDictation, RecordingsSeparatedBySilenceBecomeOneFinalEach) {
    // "he was not an ill disposed young man", "had he married a more amiable woman he..."
    const std::string ids[2] = {"0880", "0920"};
    std::vector<float> speech[2];
    std::vector<std::string> reference[2];
    double seconds[2];
    for (int i = 0; i < 2; ++i) {
        speech[i] = readMonoWav(recording(ids[i]), kRate);
        seconds[i] = double(speech[i].size()) / kRate;
        // Decoded before scrivia starts, so as not to slow it down on 2 cores.
        reference[i] = batchWords(recording(ids[i]));
    }

    Scrivia run({}, environment());
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    const auto speechStart = SteadyClock::now();
    const double gap = 3.5;  // well past the 1.2 s pause that closes a segment
    pulse_->play(speech[0]);
    pulse_->playSilence(gap);
    pulse_->play(speech[1]);
    pulse_->playSilence(2.5);
    // Read events as they come while the audio plays: their arrival times
    // place the levels inside or outside the recordings.
    const double audioSeconds = seconds[0] + gap + seconds[1] + 2.5;
    run.until(nullptr, speechStart + std::chrono::milliseconds(std::lround(audioSeconds * 1000)));
    ASSERT_TRUE(pulse_->waitUntilPlayed(SteadyClock::now() + kBound));
    run.send("stop\n");
    EXPECT_EQ(run.finish(), 0);

    auto& events = run.events;
    SCOPED_TRACE(dump(events));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), kEnd);
    EXPECT_EQ(run.ofType("end").size(), 1u);
    EXPECT_TRUE(run.ofType("error").empty());

    // Levels: numbers in [0, 1], above zero while each recording plays and
    // lower in the silence between them (with a wide margin for latency).
    const double secondStart = seconds[0] + gap;
    double loudestInFirst = 0, loudestInSecond = 0, loudestInGap = 0;
    int levelsInGap = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (typeOf(events[i]) != "level") continue;
        ASSERT_TRUE(events[i]["value"].is_number()) << events[i];
        const double value = events[i]["value"];
        EXPECT_GE(value, 0.0);
        EXPECT_LE(value, 1.0);
        const double t = std::chrono::duration<double>(run.times[i] - speechStart).count();
        if (t > 0.3 && t < seconds[0]) loudestInFirst = std::max(loudestInFirst, value);
        if (t > secondStart + 0.3 && t < secondStart + seconds[1]) {
            loudestInSecond = std::max(loudestInSecond, value);
        }
        if (t > seconds[0] + 1.5 && t < secondStart - 0.3) {
            loudestInGap = std::max(loudestInGap, value);
            ++levelsInGap;
        }
    }
    EXPECT_GT(loudestInFirst, 0.0);
    EXPECT_GT(loudestInSecond, 0.0);
    EXPECT_GT(levelsInGap, 0) << "no level events during the silence";
    EXPECT_LT(loudestInGap, std::min(loudestInFirst, loudestInSecond));

    // Partials while speaking, before the segment's final.
    auto firstFinal = std::find_if(events.begin(), events.end(),
                                   [](const json& e) { return typeOf(e) == "final"; });
    EXPECT_TRUE(std::any_of(events.begin(), firstFinal, [](const json& e) {
        return typeOf(e) == "partial" && !textOf(e).empty();
    })) << "no partial before the first final";

    // One final per recording, each with most of the batch decoder's words.
    auto finals = run.ofType("final");
    ASSERT_EQ(finals.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(finals[i].size(), 2u) << finals[i];
        auto heard = words(textOf(finals[i]));
        EXPECT_GE(sharedInOrder(reference[i], heard), 0.7)
            << "batch: " << ::testing::PrintToString(reference[i])
            << "\nlive:  " << ::testing::PrintToString(heard);
    }
}

// Stopping mid-sentence, by a "stop" line or by closing stdin, still delivers
// what was heard so far as a final before "end".
class StopDuringSpeech : public LiveDictation, public ::testing::WithParamInterface<bool> {};

TEST_P(StopDuringSpeech, DeliversTheOwedTextThenEnds) {
    Scrivia run({"--locale", "en-US"}, environment());
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    pulse_->play(readMonoWav(recording("0870"), kRate));  // 7.1 s without a long pause
    // A few words in, so that something is owed.
    auto partial = run.until(
        [](const json& e) { return typeOf(e) == "partial" && words(textOf(e)).size() >= 4; },
        SteadyClock::now() + kBound);
    ASSERT_TRUE(partial) << dump(run.events);
    ASSERT_GT(pulse_->queuedSeconds(), 0.5) << "the recording was over before the partial";
    const std::size_t stoppedAt = run.events.size();
    if (GetParam()) {
        run.send("stop\n");
    } else {
        run.closeInput();
    }
    EXPECT_EQ(run.finish(), 0);

    const auto& events = run.events;
    SCOPED_TRACE(dump(events));
    EXPECT_EQ(events.back(), kEnd);
    EXPECT_TRUE(run.ofType("error").empty());
    // The first final after the stop carries the words the partials had shown
    // (the decoder may still revise a word or two as it settles).
    std::string shown;
    json owed;
    for (std::size_t i = 0; i < events.size() && owed.is_null(); ++i) {
        if (typeOf(events[i]) == "partial") shown = textOf(events[i]);
        if (typeOf(events[i]) == "final" && i >= stoppedAt) owed = events[i];
    }
    ASSERT_FALSE(owed.is_null()) << "no final after the stop";
    EXPECT_GE(sharedInOrder(words(shown), words(textOf(owed))), 0.5)
        << "last partial: " << shown << "\nfinal: " << textOf(owed);
}

INSTANTIATE_TEST_SUITE_P(ByStopLineOrEndOfInput, StopDuringSpeech, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "StopLine" : "EndOfInput"; });

TEST_F(LiveDictation, UnsupportedLocaleIsFatal) {
    Scrivia run({"--locale", "xx_XX"}, environment());
    expectFatal(run, "unsupported");
}

// ---------------------------------------------------------------------------
// Without a microphone
// ---------------------------------------------------------------------------

// No sound server at all: PULSE_SERVER names a socket in an empty folder, so
// nothing here can reach a real server either.
class WithoutServer : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(mkdtemp(dir_)); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::vector<std::string> environment() const {
        return {"PATH=/usr/bin:/bin", "HOME=" + std::string(dir_), "LANG=en_US.UTF-8",
                "PULSE_SERVER=unix:" + std::string(dir_) + "/native"};
    }
    char dir_[32] = "/tmp/scrivia-e2e.XXXXXX";
};

TEST_F(WithoutServer, ListPrintsTheLocalesOnOneLine) {
    Scrivia run({"--list"}, environment());
    EXPECT_EQ(run.finish(), 0);
    ASSERT_EQ(run.events.size(), 1u) << dump(run.events);
    json list = run.events[0];
    EXPECT_EQ(typeOf(list), "locales") << list;
    EXPECT_EQ(list.size(), 3u) << "unexpected keys: " << list;
    ASSERT_TRUE(list["locales"].is_array() && list["onDevice"].is_array()) << list;
    auto has = [](const json& array, const json& id) {
        return std::find(array.begin(), array.end(), id) != array.end();
    };
    EXPECT_TRUE(has(list["locales"], "en-US")) << list;
    EXPECT_TRUE(has(list["onDevice"], "en-US")) << list;
    for (const auto& id : list["onDevice"]) EXPECT_TRUE(has(list["locales"], id)) << list;
}

TEST_F(WithoutServer, DictationFailsWithNoMic) {
    Scrivia run({}, environment());
    expectFatal(run, "no-mic");
}

}  // namespace
