// build/scrivia with models of its user's own: found through
// SCRIVIA_MODEL_PATH, serving their language, and refused when damaged.
#include <gtest/gtest.h>

#include "support/recordings.h"
#include "support/scrivia_run.h"

namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;

const std::string kEnglish = "/usr/share/pocketsphinx/model/en-us";
const fs::path kRoot =
    fs::temp_directory_path() / ("scrivia-e2e-models-" + std::to_string(getpid()));

// build/scrivia with the models and verdicts under kRoot.
Scrivia program(std::vector<std::string> args, std::vector<std::string> env) {
    env.insert(env.end(), {"SCRIVIA_MODEL_PATH=" + (kRoot / "models").string(),
                           "XDG_CACHE_HOME=" + (kRoot / "cache").string()});
    return Scrivia(std::move(args), std::move(env));
}

class Models : public ::testing::Test {
  protected:
    void TearDown() override { fs::remove_all(kRoot); }
    // Debian's English model as en_GB alone under kRoot, its big files as
    // links but for `damaged`: a copy cut to `keep` of its length or, with keep < 0,
    // garbled past its first 64 bytes, so that header checks cannot tell.
    static void install(const std::string& damaged = "", double keep = 1) {
        fs::remove_all(kRoot);
        const fs::path at = kRoot / "models/en_GB";
        fs::create_directories(at);
        fs::copy(kEnglish + "/en-us", at / "acoustic-model", fs::copy_options::recursive);
        fs::create_symlink(kEnglish + "/en-us.lm.bin", at / "language-model.lm.bin");
        fs::create_symlink(kEnglish + "/cmudict-en-us.dict", at / "dictionary.dict");
        if (damaged.empty()) return;
        std::string bytes = slurp(at / damaged);
        if (keep < 0)
            std::fill(bytes.begin() + 64, bytes.end(), 'Z');
        else
            bytes.resize(std::size_t(double(bytes.size()) * keep));
        fs::remove(at / damaged);
        std::ofstream(at / damaged, std::ios::binary) << bytes;
    }
};

// English but not American is served by Debian's model until a model of its
// own is installed, which is listed and dictates; a model found bad, by its
// cached verdict or by its damaged files, is unavailable, never a crash.
TEST_F(Models, OwnModelsServeTheirLocaleAndBadOnesAreUnavailable) {
    PrivatePulse pulse;
    auto australian = pulse.clientEnvironment();
    australian.push_back("LANG=en_AU.UTF-8");
    auto ready = program({}, australian).until(is("ready"));  // ended before the next records
    ASSERT_TRUE(ready);
    EXPECT_EQ(field(*ready, "locale"), "en-US");

    install();
    auto list = program({"--list"}, kNoServer);
    EXPECT_EQ(list.finish(), 0);
    EXPECT_EQ(list.dump(),
              R"({"locales":["en-GB","en-US"],"onDevice":["en-GB","en-US"],"type":"locales"})"
              "\n");
    auto british = program({"--locale", "en_GB"}, pulse.clientEnvironment());
    ready = british.until(is("ready"));
    ASSERT_TRUE(ready) << british.dump();
    EXPECT_EQ(field(*ready, "locale"), "en-GB");
    auto feeder = pulse.feed({recordingPath("0880"), "silence:2.5"});
    auto final = british.until(is("final"));
    ASSERT_TRUE(final) << british.dump();
    EXPECT_GE(sharedInOrder("he was not an ill disposed young man", field(*final, "text")), 0.5);
    british.child.send("stop\n");
    EXPECT_EQ(british.finish(), 0);

    for (auto [file, keep] : std::initializer_list<std::pair<std::string, double>>{
             {"", 1},  // sound, but its verdict says bad: it is not tried again
             {"acoustic-model/mdef", 0.5},
             {"acoustic-model/transition_matrices", 0.5},
             {"acoustic-model/means", -1},
             {"language-model.lm.bin", 0.5},
             {"language-model.lm.bin", -1},
             {"dictionary.dict", 0}}) {
        if (file.empty()) {
            for (const auto& entry : fs::directory_iterator(kRoot / "cache/scrivia")) {
                const std::string verdict = slurp(entry.path());
                ASSERT_TRUE(verdict.ends_with("good\n")) << verdict;
                std::ofstream(entry.path()) << verdict.substr(0, verdict.size() - 5) << "bad\n";
            }
        } else {
            install(file, keep);
        }
        auto run = program({"--locale", "en_GB"}, kNoServer);
        EXPECT_EQ(run.finish(), 1) << file;  // not 128 + a signal
        EXPECT_EQ(
            run.dump(),
            R"({"code":"unavailable","message":"Le moteur de reconnaissance n'est pas disponible pour le moment","type":"error"})"
            "\n{\"type\":\"end\"}\n")
            << file;
    }
}

}  // namespace
