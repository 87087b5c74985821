// build/scrivia with models of its user's own: found through
// SCRIVIA_MODEL_PATH, serving their language, and refused when damaged.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/private_pulse.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace scrivia::testing;

const std::string kEnglish = "/usr/share/pocketsphinx/model/en-us";
const fs::path kRoot =
    fs::temp_directory_path() / ("scrivia-e2e-models-" + std::to_string(getpid()));
const std::vector<std::string> kNoServer = {"PATH=/usr/bin:/bin", "HOME=/nonexistent",
                                            "PULSE_SERVER=unix:/nonexistent/scrivia/native"};

// build/scrivia with the models and verdicts under kRoot.
struct Program {
    Program(std::vector<std::string> args, std::vector<std::string> env)
        : child((args.insert(args.begin(), SCRIVIA_BINARY), args),
                (env.insert(env.end(), {"SCRIVIA_MODEL_PATH=" + (kRoot / "models").string(),
                                        "XDG_CACHE_HOME=" + (kRoot / "cache").string()}),
                 env)) {}
    // Reads events until one of `type`, or the end of output; whether it came.
    bool until(const std::string& type) {
        while (auto line = child.readLine(SteadyClock::now() + 60s)) {
            events.push_back(json::parse(*line, nullptr, false));
            if (events.back().is_object() && events.back().value("type", "") == type) return true;
        }
        return false;
    }
    std::string dump() const { return json(events).dump(); }
    ChildProcess child;
    std::vector<json> events;
};

class Models : public ::testing::Test {
  protected:
    void TearDown() override { fs::remove_all(kRoot); }
    // Debian's English model as en_GB, made of links but for `damaged`: a copy
    // cut to `keep` of its length or, with keep < 0, garbled past its first 64
    // bytes, so that header checks cannot tell.
    static void install(const std::string& damaged = "", double keep = 1) {
        const fs::path at = kRoot / "models/en_GB";
        fs::create_directories(at / "acoustic-model");
        for (const auto& file : fs::directory_iterator(kEnglish + "/en-us"))
            fs::create_symlink(file.path(), at / "acoustic-model" / file.path().filename());
        fs::create_symlink(kEnglish + "/en-us.lm.bin", at / "language-model.lm.bin");
        fs::create_symlink(kEnglish + "/cmudict-en-us.dict", at / "dictionary.dict");
        if (damaged.empty()) return;
        std::string bytes = slurp(at / damaged);
        if (keep < 0)
            std::fill(bytes.begin() + std::min(64l, long(bytes.size())), bytes.end(), 'Z');
        else
            bytes.resize(std::size_t(double(bytes.size()) * keep));
        fs::remove(at / damaged);
        std::ofstream(at / damaged, std::ios::binary) << bytes;
    }
};

TEST_F(Models, AnotherLocaleDictatesALanguageWithoutModelGetsItsLanguagesAndVerdictsAreKept) {
    PrivatePulse pulse;
    {  // before en_GB is installed, English but not American is served by Debian's model
        auto australian = pulse.clientEnvironment();
        australian.push_back("LANG=en_AU.UTF-8");
        Program fallback({}, australian);
        ASSERT_TRUE(fallback.until("ready")) << fallback.dump();
        EXPECT_EQ(fallback.events.back()["locale"], "en-US");
    }  // and ended, so that the next program is the only one recording

    install();
    Program list({"--list"}, pulse.clientEnvironment());
    ASSERT_TRUE(list.until("locales")) << list.dump();
    EXPECT_EQ(list.events[0]["locales"], json({"en-GB", "en-US"}));
    EXPECT_EQ(list.events[0]["onDevice"], json({"en-GB", "en-US"}));

    Program british({"--locale", "en_GB"}, pulse.clientEnvironment());
    ASSERT_TRUE(british.until("ready")) << british.dump();
    EXPECT_EQ(british.events.back()["locale"], "en-GB");
    ASSERT_TRUE(pulse.waitUntilRecording(SteadyClock::now() + 60s));
    pulse.play(readWav(recordingPath("0880")));
    pulse.playSilence(2.5);
    ASSERT_TRUE(british.until("final")) << british.dump();
    const std::string text = british.events.back().value("text", "");
    EXPECT_GE(sharedInOrder("he was not an ill disposed young man", text), 0.5) << text;
    british.child.send("stop\n");
    EXPECT_EQ(british.child.wait(SteadyClock::now() + 60s), 0);

    // A verdict, once said bad, is believed: the model is not tried again.
    for (const auto& file : fs::directory_iterator(kRoot / "cache/scrivia")) {
        const std::string verdict = slurp(file.path());
        ASSERT_TRUE(verdict.ends_with("good\n")) << verdict;
        std::ofstream(file.path()) << verdict.substr(0, verdict.size() - 5) << "bad\n";
    }
    Program again({"--locale", "en_GB"}, kNoServer);
    ASSERT_TRUE(again.until("error")) << again.dump();
    EXPECT_EQ(again.events.back().value("code", ""), "unavailable");
}

TEST_F(Models, DamagedModelIsUnavailableBeforeReadyWithoutCrashing) {
    for (auto [file, keep] : std::initializer_list<std::pair<std::string, double>>{
             {"acoustic-model/mdef", 0.5},
             {"acoustic-model/transition_matrices", 0.5},
             {"acoustic-model/means", -1},
             {"language-model.lm.bin", 0.5},
             {"language-model.lm.bin", -1},
             {"dictionary.dict", 0}}) {
        install(file, keep);
        Program run({"--locale", "en_GB"}, kNoServer);
        run.until("");
        EXPECT_EQ(run.child.wait(SteadyClock::now() + 60s), 1) << file;  // not 128 + a signal
        EXPECT_EQ(
            run.dump(),
            R"([{"code":"unavailable","message":"Le moteur de reconnaissance n'est pas disponible pour le moment","type":"error"},{"type":"end"}])")
            << file;
        EXPECT_EQ(run.child.errors(), "") << file;
        fs::remove_all(kRoot);
    }
}

}  // namespace
