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

struct Program {
    Program(std::vector<std::string> args, std::vector<std::string> environment)
        : child((args.insert(args.begin(), SCRIVIA_BINARY), args), std::move(environment)) {}
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
    void TearDown() override { fs::remove_all(root); }
    // Debian's English model as `locale` under root/models, made of links but
    // for `damaged`, a copy that `damage` rewrites.
    void install(const std::string& locale, const std::string& damaged = "",
                 const std::function<std::string(std::string)>& damage = {}) {
        const fs::path at = root / "models" / locale;
        fs::create_directories(at / "acoustic-model");
        for (const auto& file : fs::directory_iterator(kEnglish + "/en-us"))
            fs::create_symlink(file.path(), at / "acoustic-model" / file.path().filename());
        fs::create_symlink(kEnglish + "/en-us.lm.bin", at / "language-model.lm.bin");
        fs::create_symlink(kEnglish + "/cmudict-en-us.dict", at / "dictionary.dict");
        if (damaged.empty()) return;
        const std::string original = slurp(at / damaged);
        fs::remove(at / damaged);
        std::ofstream(at / damaged, std::ios::binary) << damage(original);
    }
    std::vector<std::string> environment(std::vector<std::string> base) const {
        base.insert(base.end(), {"SCRIVIA_MODEL_PATH=" + (root / "models").string(),
                                 "XDG_CACHE_HOME=" + (root / "cache").string()});
        return base;
    }
    const std::vector<std::string> noServer = {"PATH=/usr/bin:/bin", "HOME=/nonexistent",
                                               "PULSE_SERVER=unix:/nonexistent/scrivia/native"};
    fs::path root = fs::temp_directory_path() / ("scrivia-e2e-models-" + std::to_string(getpid()));
};

TEST_F(Models, AnotherLocaleIsListedAndDictatesAndALanguageWithoutModelGetsItsLanguagesModel) {
    install("en_GB");
    PrivatePulse pulse;
    Program list({"--list"}, environment(pulse.clientEnvironment()));
    ASSERT_TRUE(list.until("locales")) << list.dump();
    EXPECT_EQ(list.events[0]["locales"], json({"en-GB", "en-US"}));
    EXPECT_EQ(list.events[0]["onDevice"], json({"en-GB", "en-US"}));

    Program british({"--locale", "en_GB"}, environment(pulse.clientEnvironment()));
    ASSERT_TRUE(british.until("ready")) << british.dump();
    EXPECT_EQ(british.events.back()["locale"], "en-GB");
    ASSERT_TRUE(pulse.waitUntilRecording(SteadyClock::now() + 60s));
    pulse.play(readWav(recordingPath("0880")));
    pulse.playSilence(2.5);
    ASSERT_TRUE(british.until("final")) << british.dump();
    EXPECT_GE(sharedInOrder("he was not an ill disposed young man",
                            british.events.back().value("text", "")),
              0.5)
        << british.dump();
    british.child.send("stop\n");
    EXPECT_EQ(british.child.wait(SteadyClock::now() + 60s), 0);

    auto australian = pulse.clientEnvironment();
    australian.push_back("LANG=en_AU.UTF-8");
    Program fallback({}, australian);
    ASSERT_TRUE(fallback.until("ready")) << fallback.dump();
    EXPECT_EQ(fallback.events.back()["locale"], "en-US");
}

TEST_F(Models, DamagedModelIsUnavailableBeforeReadyWithoutCrashing) {
    auto half = [](std::string s) { return s.substr(0, s.size() / 2); };
    // The start kept, so that header checks cannot tell.
    auto garbage = [](std::string s) {
        std::fill(s.begin() + std::min<long>(64, long(s.size())), s.end(), 'Z');
        return s;
    };
    for (auto [file, damage] :
         std::initializer_list<std::pair<std::string, std::function<std::string(std::string)>>>{
             {"acoustic-model/mdef", half},
             {"acoustic-model/transition_matrices", half},
             {"acoustic-model/means", garbage},
             {"language-model.lm.bin", half},
             {"language-model.lm.bin", garbage},
             {"dictionary.dict", [](std::string) { return std::string(); }}}) {
        install("en_GB", file, damage);
        Program run({"--locale", "en_GB"}, environment(noServer));
        run.until("");
        EXPECT_EQ(run.child.wait(SteadyClock::now() + 60s), 1) << file;  // not 128 + a signal
        EXPECT_EQ(
            run.dump(),
            R"([{"code":"unavailable","message":"Le moteur de reconnaissance n'est pas disponible pour le moment","type":"error"},{"type":"end"}])")
            << file;
        EXPECT_EQ(run.child.errors(), "") << file;
        fs::remove_all(root);
    }
}

TEST_F(Models, VerdictOnAModelIsKeptUntilItsFilesChange) {
    install("en_GB");
    Program first({"--locale", "en_GB"}, environment(noServer));
    ASSERT_TRUE(first.until("error")) << first.dump();
    EXPECT_EQ(first.events.back().value("code", ""), "no-mic");  // the model was good
    std::vector<fs::path> verdicts;
    for (const auto& file : fs::directory_iterator(root / "cache/scrivia"))
        verdicts.push_back(file);
    ASSERT_EQ(verdicts.size(), 1u);
    std::string verdict = slurp(verdicts[0]);
    ASSERT_TRUE(verdict.ends_with("good\n")) << verdict;
    // A second run believes the verdict rather than trying the model again.
    std::ofstream(verdicts[0]) << verdict.substr(0, verdict.size() - 5) << "bad\n";
    Program second({"--locale", "en_GB"}, environment(noServer));
    ASSERT_TRUE(second.until("error")) << second.dump();
    EXPECT_EQ(second.events.back().value("code", ""), "unavailable");
}

}  // namespace
