// build/scrivia with models of its user's own: found through
// SCRIVIA_MODEL_PATH, serving their language, and refused when damaged; and
// the runs that end before they listen.
#include <gtest/gtest.h>

#include "support/recordings.h"
#include "support/scrivia_run.h"

namespace {

namespace fs = std::filesystem;
using namespace scrivia::testing;
using Models = LiveDictation;

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

// English but not American is served by Debian's model until a model of its
// own is installed, which is listed and dictates for a host that then goes
// away. With no sound server, a
// model found bad, by its cached verdict or its damaged files, is unavailable
// (never a crash), and a locale without a model unsupported.
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
    EXPECT_EQ(
        json(list.events),
        json::parse(
            R"([{"type":"locales","locales":["en-GB","en-US"],"onDevice":["en-GB","en-US"]}])"));
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

}  // namespace
