#include "platform/linux/speech/model_check.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/linux/speech/utterance_decoder.h"

extern char** environ;

namespace scrivia::platform::linux_ {

namespace {

namespace fs = std::filesystem;
constexpr const char* kProbeVariable = "SCRIVIA_PROBE_MODEL";

// "path size mtime" for each file the model is made of, one a line.
std::string fingerprint(const ModelFiles& files) {
    std::vector<std::string> paths{files.languageModel, files.dictionary};
    std::error_code error;
    for (fs::directory_iterator it(files.acousticModel, error), end; !error && it != end;
         it.increment(error)) {
        paths.push_back(it->path().string());
    }
    std::sort(paths.begin() + 2, paths.end());
    std::string lines;
    for (const std::string& path : paths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) info = {};
        lines += path + " " + std::to_string(info.st_size) + " " +
                 std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) +
                 "\n";
    }
    return lines;
}

// The verdict file of a fingerprint: named by its FNV-1a hash, holding the
// fingerprint itself, so that a collision reads as no verdict.
std::string verdictPath(const std::string& folder, const std::string& key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "model-%016llx", static_cast<unsigned long long>(hash));
    return folder + "/" + name;
}

std::optional<bool> cachedVerdict(const std::string& path, const std::string& key) {
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    if (content == key + "good\n") return true;
    if (content == key + "bad\n") return false;
    return std::nullopt;
}

// Best effort: a cache that cannot be written only means probing next time.
void keepVerdict(const std::string& folder, const std::string& path, const std::string& key,
                 bool good) {
    std::error_code error;
    fs::create_directories(folder, error);
    const std::string temporary = path + "." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << key << (good ? "good\n" : "bad\n");
        if (!out.flush()) return (void)::unlink(temporary.c_str());
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) ::unlink(temporary.c_str());
}

// Runs the probe on `files`: true or false when it said, nothing when it
// could not say (not started, killed at the deadline or by someone else).
std::optional<bool> probe(const ModelFiles& files, const ModelProbe& probe) {
    std::vector<std::string> environment{std::string(kProbeVariable) + "=1"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, kProbeVariable, std::strlen(kProbeVariable)) != 0) {
            environment.emplace_back(*variable);
        }
    }
    std::vector<std::string> arguments{probe.program, files.acousticModel, files.languageModel,
                                       files.dictionary};
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (std::string& s : strings) result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    };
    auto argv = pointers(arguments), envp = pointers(environment);
    // Its output would break our event stream and our empty stderr.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) return std::nullopt;

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(probe.timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0;
    // A crash is the model's doing; another signal came from outside.
    const int number = WTERMSIG(status);
    if (number == SIGSEGV || number == SIGBUS || number == SIGABRT || number == SIGFPE ||
        number == SIGILL) {
        return false;
    }
    return std::nullopt;
}

}  // namespace

bool modelLoads(const ModelFiles& files, const ModelProbe& probeSettings) {
    const std::string key = fingerprint(files);
    const std::string folder = probeSettings.cacheFolder;
    const std::string path = folder.empty() ? std::string() : verdictPath(folder, key);
    if (!path.empty()) {
        if (auto verdict = cachedVerdict(path, key)) return *verdict;
    }
    const std::optional<bool> verdict = probe(files, probeSettings);
    if (verdict && !path.empty()) keepVerdict(folder, path, key, *verdict);
    return verdict.value_or(false);
}

std::optional<int> runModelProbe(int argc, char** argv) {
    const char* asked = std::getenv(kProbeVariable);
    if (asked == nullptr || std::strcmp(asked, "1") != 0) return std::nullopt;
    if (argc != 4) return 2;
    // The host's Ctrl-C is for scrivia, which ends the probe itself if need be.
    for (int number : {SIGINT, SIGTERM, SIGHUP}) ::signal(number, SIG_IGN);
    // Without a language's phrases: the probe knows only the model's files.
    auto decoder =
        UtteranceDecoder::load(ModelFiles{argv[1], argv[2], argv[3]}, formatting::rulesFor(""));
    if (!decoder || !decoder->start()) return 1;
    // A second of noise, loud enough that the silence gate passes it: some
    // damage shows only once decoding starts.
    std::vector<std::int16_t> noise(static_cast<std::size_t>(decoder->sampleRate()));
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = std::int16_t(int(i * 7919 % 2001) - 1000);
    if (!decoder->feed(noise)) return 1;
    decoder->finish();
    return 0;
}

}  // namespace scrivia::platform::linux_
