// build/scrivia with models of its user's own: found through
// SCRIVIA_MODEL_PATH, serving their language, and refused when damaged.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/recordings.h"
#include "support/scrivia_run.h"

namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;

const std::string kEnglish = "/usr/share/pocketsphinx/model/en-us";
const fs::path kRoot =
    fs::temp_directory_path() / ("scrivia-e2e-models-" + std::to_string(getpid()));
const std::vector<std::string> kNoServer = {"PATH=/usr/bin:/bin", "HOME=/nonexistent",
                                            "PULSE_SERVER=unix:/nonexistent/scrivia/native"};

// build/scrivia with the models and verdicts under kRoot.
Scrivia program(std::vector<std::string> args, std::vector<std::string> env) {
    env.insert(env.end(), {"SCRIVIA_MODEL_PATH=" + (kRoot / "models").string(),
                           "XDG_CACHE_HOME=" + (kRoot / "cache").string()});
    return Scrivia(std::move(args), std::move(env));
}

bool ofType(const json& event, const std::string& type) {
    return field(event, "type") == type;
}

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
    const auto soon = [] { return SteadyClock::now() + kBound; };
    {  // before en_GB is installed, English but not American is served by Debian's model
        auto australian = pulse.clientEnvironment();
        australian.push_back("LANG=en_AU.UTF-8");
        auto fallback = program({}, australian);
        auto ready = fallback.until([](const json& e) { return ofType(e, "ready"); }, soon());
        ASSERT_TRUE(ready) << fallback.dump();
        EXPECT_EQ((*ready)["locale"], "en-US");
    }  // and ended, so that the next program is the only one recording

    install();
    auto list = program({"--list"}, pulse.clientEnvironment());
    EXPECT_EQ(list.finish(), 0);
    ASSERT_EQ(list.events.size(), 1u) << list.dump();
    EXPECT_EQ(list.events[0]["locales"], json({"en-GB", "en-US"}));
    EXPECT_EQ(list.events[0]["onDevice"], json({"en-GB", "en-US"}));

    auto british = program({"--locale", "en_GB"}, pulse.clientEnvironment());
    auto ready = british.until([](const json& e) { return ofType(e, "ready"); }, soon());
    ASSERT_TRUE(ready) << british.dump();
    EXPECT_EQ((*ready)["locale"], "en-GB");
    auto feeder = pulse.feed({recordingPath("0880"), "silence:2.5"});
    auto final = british.until([](const json& e) { return ofType(e, "final"); }, soon());
    ASSERT_TRUE(final) << british.dump();
    EXPECT_GE(sharedInOrder("he was not an ill disposed young man", field(*final, "text")), 0.5)
        << british.dump();
    british.child.send("stop\n");
    EXPECT_EQ(british.finish(), 0);

    // A verdict, once said bad, is believed: the model is not tried again.
    for (const auto& file : fs::directory_iterator(kRoot / "cache/scrivia")) {
        const std::string verdict = slurp(file.path());
        ASSERT_TRUE(verdict.ends_with("good\n")) << verdict;
        std::ofstream(file.path()) << verdict.substr(0, verdict.size() - 5) << "bad\n";
    }
    auto again = program({"--locale", "en_GB"}, kNoServer);
    EXPECT_EQ(again.finish(), 1);
    EXPECT_EQ(field(again.events.at(0), "code"), "unavailable") << again.dump();
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
        auto run = program({"--locale", "en_GB"}, kNoServer);
        EXPECT_EQ(run.finish(), 1) << file;  // not 128 + a signal
        EXPECT_EQ(
            run.dump(),
            R"({"code":"unavailable","message":"Le moteur de reconnaissance n'est pas disponible pour le moment","type":"error"})"
            "\n{\"type\":\"end\"}\n")
            << file;
        fs::remove_all(kRoot);
    }
}

}  // namespace
