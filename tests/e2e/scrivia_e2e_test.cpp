// build/scrivia as a host application runs it: a child process with piped
// standard input, listening to the private server of scripts/private-pulse.sh
// whose microphone plays real recordings at real-time pace. What it hears is
// compared with what the same engine makes of the same files, not with the
// human transcripts: the live program cannot be asked to beat its own engine.
// Last, models of the user's own, and the runs that end before they listen.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <regex>

#include "support/recordings.h"
#include "support/scrivia_run.h"

namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;
using Models = LiveDictation;

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

// `words` read by flite's `voice` into a new WAV file in `folder`.
std::string spoken(const fs::path& folder, const std::string& voice, const std::string& words) {
    static int made = 0;
    const fs::path wav = folder / ("said" + std::to_string(made++) + ".wav");
    ChildProcess flite({"/usr/bin/flite", "-voice", voice, "-t", words, "-o", wav.string()},
                       {"PATH=/usr/bin:/bin"});
    EXPECT_EQ(flite.wait(SteadyClock::now() + 30s), 0) << words;
    return wav.string();
}

// Sentences read by flite's voices, as a person dictates them: each final
// holds the forms a person keeps, and digits already show in a partial.
TEST_F(LiveDictation, SpokenNumbersNamesAndMarksComeFormatted) {
    const std::vector<std::array<std::string, 3>> said{
        // voice, words, what the final must hold
        {"rms", "are you coming home question mark", "home?"},
        {"kal16", "i will call you tomorrow period", "I will call you tomorrow."},
        {"kal16", "she was born in nineteen eighty four", "1984"},
        {"slt", "the ticket costs thirty dollars", "$30"},
        {"kal16", "my rent went up by five percent this year", "5%"},
        {"rms", "the flight takes off on june fourth", "June 4th"},
        {"awb", "we sold two hundred thousand copies", "200,000"},
        {"slt", "the train leaves at seven fifteen p.m. on friday", "7:15 PM on Friday"},
    };
    std::vector<std::string> items;
    for (const auto& [voice, words, kept] : said)
        items.insert(items.end(), {spoken(pulse_->directory(), voice, words), "silence:2"});
    Scrivia run = start();
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed(items);
    std::size_t finals = 0;
    run.until([&](const json& e) { return is("final")(e) && ++finals == said.size(); },
              SteadyClock::now() + 90s);
    run.child.send("stop\n");
    EXPECT_EQ(run.finish(), 0);
    std::string text, partials;
    for (const json& e : run.events) {
        if (is("final")(e)) text += e.value("text", "") + "\n";
        if (is("partial")(e)) partials += e.value("text", "") + "\n";
    }
    for (const auto& [voice, words, kept] : said) EXPECT_NE(text.find(kept), text.npos) << kept;
    EXPECT_EQ(text.find("period"), text.npos) << text;
    EXPECT_TRUE(std::regex_search(partials, std::regex("[0-9]"))) << partials;
}

// "new paragraph" said alone between two pauses is a segment with no text of
// its own: no final for it, and its line breaks go before the next one.
TEST_F(LiveDictation, AParagraphSaidAloneGoesBeforeTheNextFinal) {
    std::vector<std::string> items;
    for (const char* words : {"see you soon period", "new paragraph", "thanks again"})
        items.insert(items.end(), {spoken(pulse_->directory(), "slt", words), "silence:2"});
    Scrivia run = start();
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed(items);
    std::string breaks;  // each final's lineBreaksBefore, 0 when absent
    run.until([&](const json& e) {
        if (is("final")(e)) breaks += std::to_string(e.value("lineBreaksBefore", 0));
        return breaks.size() == 2;
    });
    run.child.send("stop\n");
    EXPECT_EQ(run.finish(), 0);
    EXPECT_EQ(breaks, "02") << run.output;
}

// However the run is asked to end mid-sentence, or loses its microphone for
// good, what was heard so far comes as a final before "end"; the monitor of
// the speaker is never recorded unasked.
TEST_F(LiveDictation, EveryEndMidSentenceDeliversTheOwedText) {
    const auto unload = [](Scrivia&) {
        ASSERT_TRUE(pulse_->pactl({"unload-module", "module-pipe-source"}));
        std::this_thread::sleep_for(1500ms);  // well into the 3 s spent looking for a source
        EXPECT_EQ(pulse_->pactl({"list", "short", "source-outputs"}), "")
            << "the monitor is recorded";
    };
    for (const auto& [how, act, status, within] :
         std::initializer_list<std::tuple<const char*, std::function<void(Scrivia&)>, int, int>>{
             {"SIGINT", [](Scrivia& run) { kill(run.child.pid, SIGINT); }, 0, 60},
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

const std::string kEnglish = "/usr/share/pocketsphinx/model/en-us";

// Debian's English model as en_GB alone in `root`/models, with no verdicts, its big files as links
// but for `damaged`: a copy cut to `keep` of its length or, with keep < 0, garbled past its first
// 64 bytes, so that header checks cannot tell.
void install(const fs::path& root, const std::string& damaged = "", double keep = 1) {
    fs::remove_all(root);
    const fs::path at = root / "models/en_GB";
    fs::create_directories(at);
    fs::copy(kEnglish + "/en-us", at / "acoustic-model", fs::copy_options::recursive);
    fs::create_symlink(kEnglish + "/en-us.lm.bin", at / "language-model.lm.bin");
    fs::create_symlink(kEnglish + "/cmudict-en-us.dict", at / "dictionary.dict");
    if (damaged.empty()) return;
    std::string bytes = slurp(at / damaged);
    keep < 0 ? std::fill(bytes.begin() + 64, bytes.end(), 'Z')
             : bytes.resize(std::size_t(double(bytes.size()) * keep));
    fs::remove(at / damaged);
    std::ofstream(at / damaged, std::ios::binary) << bytes;
}

// Models of the user's own, found through SCRIVIA_MODEL_PATH. English but not
// American is served by Debian's model until a model of its own is installed,
// which is listed and dictates for a host that then goes away. With no sound
// server, a model found bad, by its cached verdict or its damaged files, is
// unavailable (never a crash), and a locale without a model unsupported.
TEST_F(Models, OwnModelsServeTheirLocaleAndRunsThatCannotListenEndAtOnce) {
    const fs::path root = pulse_->directory() / "own";
    std::vector<std::string> own = {"SCRIVIA_MODEL_PATH=" + (root / "models").string(),
                                    "XDG_CACHE_HOME=" + (root / "cache").string()};
    const json australian =  // and that run has ended, so the next is the only one recording
        start({}, {own[0], own[1], "LANG=en_AU.UTF-8"}).until(is("ready")).value_or(json::object());
    EXPECT_EQ(australian.value("locale", ""), "en-US");

    install(root);
    auto british = start({"--locale", "en_GB"}, own);
    feeder = pulse_->feed({recordingPath("0880"), "silence:2.5"});
    const json final = british.until(is("final")).value_or(json::object());
    EXPECT_EQ(british.summary(), "ready en-GB final");
    EXPECT_GE(sharedInOrder("he was not an ill disposed young man", final.value("text", "")), 0.5);
    // A host that closes its end of stdout ends the run at once, leaving
    // nothing recording.
    british.child.closeStdout();
    EXPECT_EQ(british.child.wait(SteadyClock::now() + 1s), 1);
    EXPECT_EQ(british.child.errors(), "");
    EXPECT_EQ(pulse_->pactl({"list", "short", "source-outputs"}), "");
    // No server from here on: a socket that does not exist.
    own.insert(own.end(), {"PATH=/usr/bin:/bin", "HOME=/nonexistent", "LANG=en_US.UTF-8",
                           "PULSE_SERVER=unix:/nonexistent/scrivia/native"});
    auto list = Scrivia({"--list"}, own);
    EXPECT_EQ(list.finish(), 0);
    EXPECT_EQ(list.output,
              R"({"locales":["en-GB","en-US"],"onDevice":["en-GB","en-US"],"type":"locales"})"
              "\n");
    for (const auto& entry : fs::directory_iterator(root / "cache/scrivia")) {
        const std::string verdict = slurp(entry.path());
        ASSERT_TRUE(verdict.ends_with("good\n")) << verdict;
        std::ofstream(entry.path()) << verdict.substr(0, verdict.size() - 5) << "bad\n";
    }
    for (const auto& [locale, file, keep, summary] :
         std::initializer_list<std::tuple<std::string, std::string, double, std::string>>{
             {"xx_XX", "", 1, "unsupported end"},
             {"en_US", "", 1, "no-mic end"},
             {"en_GB", "", 1, "unavailable end"},  // sound, but its verdict says bad
             {"en_GB", "acoustic-model/mdef", 0.5, "unavailable end"},
             {"en_GB", "acoustic-model/transition_matrices", 0.5, "unavailable end"},
             {"en_GB", "acoustic-model/means", -1, "unavailable end"},
             {"en_GB", "language-model.lm.bin", 0.5, "unavailable end"},
             {"en_GB", "language-model.lm.bin", -1, "unavailable end"},
             {"en_GB", "dictionary.dict", 0, "unavailable end"}}) {
        if (!file.empty()) install(root, file, keep);
        auto run = Scrivia({"--locale", locale}, own);
        EXPECT_EQ(run.finish(), 1) << file;  // not 128 + a signal
        EXPECT_EQ(run.summary(), summary) << locale << " " << file;
    }
}

// Debian's five read recordings, the demo's three among them, with a person's
// pauses: the readers said no mark, so no final holds one but its closing
// full stop. The phrases that make marks likely once heard "comma was" for
// "unless" and "dash" in "dashwood". Each final is ready when the pause is
// over: it comes within the pause (1.2 s) and 0.6 s of the last partial.
TEST_F(LiveDictation, NoFinalHoldsAMarkTheReadersNeverSaidAndFinalsComeAtThePause) {
    std::vector<std::string> items;
    double seconds = 5;  // then the last final is out, even on a busy machine
    for (const char* id : {"0880", "0930", "0890", "0870", "0920"}) {
        items.insert(items.end(), {recordingPath(id), "silence:2.5"});
        seconds += double(readWav(recordingPath(id)).size()) / 16000 + 2.5;
    }
    Scrivia run = start();
    ASSERT_NO_FATAL_FAILURE(expectListening(run));
    feeder = pulse_->feed(items);
    std::vector<double> waits;  // seconds from each segment's last partial to its final
    std::optional<SteadyClock::time_point> partial;
    const auto timed = [&](const json& e) {
        const auto now = SteadyClock::now();
        if (is("final")(e) && partial)
            waits.push_back(std::chrono::duration<double>(now - *partial).count());
        if (is("final")(e) || is("partial")(e))
            partial = is("final")(e) ? std::nullopt : std::optional(now);
        return false;
    };
    run.until(timed, SteadyClock::now() + std::chrono::milliseconds(int(1000 * seconds)));
    run.child.send("stop\n");
    EXPECT_EQ(run.finish(), 0);
    EXPECT_EQ(run.summary(), "ready en-US final end");
    EXPECT_GE(waits.size(), 5u);
    // 0880, first, pauses about a second inside its sentence; its last word
    // may change no partial, so its final is timed from before that pause.
    for (std::size_t i = 1; i < waits.size(); ++i)
        EXPECT_LE(waits[i], 1.2 + 0.6) << ::testing::PrintToString(waits);
    // Abbreviations ("Mr. ") are spellings; a final's last full stop is its own.
    const std::regex spelled("\\b([A-Z][a-z]{0,3}\\.)+ |\\. $"), mark("[-,;:?!\"()[\\]/@&.–…]");
    for (const json& e : run.events) {
        if (!is("final")(e)) continue;
        EXPECT_FALSE(
            std::regex_search(std::regex_replace(e.value("text", "") + " ", spelled, ""), mark))
            << e.value("text", "");
    }
}

// A sentence with two entries of the person's own is written as they spell
// them with --words, and without it holds neither.
TEST_F(LiveDictation, APersonsOwnWordsAreWrittenAsSpelled) {
    const fs::path words = pulse_->directory() / "words.txt";
    std::ofstream(words) << "# colleagues and tools\nAnouk Dupont\nGitHub = git hub\n";
    const std::string said =
        spoken(pulse_->directory(), "slt", "anouk dupont keeps the code on git hub today");
    for (const bool withWords : {true, false}) {
        Scrivia run = start(withWords ? std::vector<std::string>{"--words", words.string()}
                                      : std::vector<std::string>{});
        ASSERT_NO_FATAL_FAILURE(expectListening(run));
        feeder = pulse_->feed({said, "silence:2"});
        const auto final = run.until(is("final"), SteadyClock::now() + 30s);
        run.child.send("stop\n");
        EXPECT_EQ(run.finish(), 0);
        ASSERT_TRUE(final) << run.output;
        const std::string text = final->value("text", "");
        for (const char* entry : {"Anouk Dupont", "GitHub"})
            EXPECT_EQ(text.find(entry) != text.npos, withWords) << text;
    }
}

}  // namespace
