// The private sound server of scripts/private-pulse.sh for tests, its
// microphone fed by the same script, and a bounded way to run programs.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace scrivia::testing {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// A program (by absolute path) run with exactly `environment`, its stdin and
// stdout on pipes and its stderr in a file. Every wait takes a deadline; the
// destructor ends the program if it still runs.
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
        signal(SIGPIPE, SIG_IGN);  // a write to a child that is gone fails instead
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT, 0600);
        std::vector<char*> args, env;
        for (auto& s : argv) args.push_back(s.data());
        for (auto& s : environment) env.push_back(s.data());
        args.push_back(nullptr), env.push_back(nullptr);
        if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0)
            status_ = 127;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]), close(out[1]);
        stdin_ = in[1], stdout_ = out[0];
    }
    ~ChildProcess() {
        if (!status_ && kill(pid, SIGTERM) == 0 && !wait(SteadyClock::now() + 3s))
            kill(pid, SIGKILL);
        if (!status_) waitpid(pid, nullptr, 0);
        closeStdin(), closeStdout();
        std::filesystem::remove(err_);
    }

    bool send(std::string_view text) {
        return write(stdin_, text.data(), text.size()) == ssize_t(text.size());
    }
    void closeStdin() { close(std::exchange(stdin_, -1)); }
    void closeStdout() { close(std::exchange(stdout_, -1)); }
    int stdoutPipe() const { return stdout_; }

    // The next line of stdout without its newline; nullopt at the deadline or
    // at the end of output.
    std::optional<std::string> readLine(SteadyClock::time_point deadline) {
        for (std::size_t newline; (newline = buffer_.find('\n')) == std::string::npos;) {
            pollfd ready{stdout_, POLLIN, 0};
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            char chunk[4096];
            if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0) return std::nullopt;
            const ssize_t got = read(stdout_, chunk, sizeof chunk);
            if (got <= 0) return std::nullopt;
            buffer_.append(chunk, std::size_t(got));
        }
        std::string line = buffer_.substr(0, buffer_.find('\n'));
        buffer_.erase(0, line.size() + 1);
        return line;
    }

    // The exit status (128 plus the signal that ended it), or nullopt if the
    // program still runs at the deadline.
    std::optional<int> wait(SteadyClock::time_point deadline) {
        for (int raw = 0; !status_; std::this_thread::sleep_for(5ms)) {
            if (waitpid(pid, &raw, WNOHANG) == pid)
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            else if (SteadyClock::now() >= deadline)
                break;
        }
        return status_;
    }
    std::string errors() const {
        std::ifstream in(err_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    pid_t pid = -1;

  private:
    std::filesystem::path err_ = std::filesystem::temp_directory_path() /
                                 ("scrivia-child-" + std::to_string(getpid()) + "-" +
                                  std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    int stdin_ = -1, stdout_ = -1;
    std::string buffer_;  // read from stdout, not yet returned
    std::optional<int> status_;
};

// A daemon started by scripts/private-pulse.sh in a folder of its own.
inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class PrivatePulse {
  public:
    PrivatePulse() {
        // /tmp rather than $TMPDIR: a unix socket path must stay under 108 bytes.
        char pattern[] = "/tmp/scrivia-pulse.XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        if (!script("start")) throw std::runtime_error("private-pulse.sh start failed");
    }
    ~PrivatePulse() {
        script("stop");
        std::filesystem::remove_all(dir_);
    }

    const std::filesystem::path& directory() const { return dir_; }
    // For a client of this server only (HOME is the server's, so libpulse
    // reads no user's configuration).
    std::vector<std::string> clientEnvironment() const {
        return {"PATH=/usr/bin:/bin", "HOME=" + (dir_ / "home").string(),
                "PULSE_SERVER=unix:" + (dir_ / "native").string()};
    }
    // Plays `items` (WAV files, silence:SECONDS) into the microphone in real
    // time once something records, then silence, for as long as it lives.
    std::unique_ptr<ChildProcess> feed(std::vector<std::string> items = {}) const {
        items.insert(items.begin(), {"/bin/bash", kScript, "feed", dir_.string()});
        return std::make_unique<ChildProcess>(std::move(items), clientEnvironment());
    }
    // Drops audio a feeder left unread in the FIFO, so that it cannot reach
    // the next recorder.
    void drain() const {
        const int fifo = open((dir_ / "mic.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        for (char sink[4096]; read(fifo, sink, sizeof sink) > 0;) {
        }
        close(fifo);
    }
    bool kill() const { return ::kill(std::stoi(slurp(dir_ / "daemon.pid")), SIGKILL) == 0; }
    bool restart() const { return script("stop") && script("start"); }

    // Runs pactl on this server; its output if it exits with 0.
    std::optional<std::string> pactl(std::vector<std::string> args) const {
        args.insert(args.begin(), "/usr/bin/pactl");
        ChildProcess child(std::move(args), clientEnvironment());
        std::string out;
        for (auto deadline = SteadyClock::now() + 10s; auto line = child.readLine(deadline);)
            out += *line + "\n";
        if (child.wait(SteadyClock::now() + 10s) != 0) return std::nullopt;
        return out;
    }
    bool waitUntilRecording(SteadyClock::time_point deadline) const {
        for (; SteadyClock::now() < deadline; std::this_thread::sleep_for(50ms)) {
            // "1\tmic\tmodule-pipe-source.c\ts16le 1ch 16000Hz\tRUNNING"
            auto sources = pactl({"list", "short", "sources"}).value_or("");
            auto at = sources.find("\tmic\t");
            if (at != std::string::npos &&
                sources.substr(at, sources.find('\n', at) - at).ends_with("RUNNING"))
                return true;
        }
        return false;
    }

  private:
    static constexpr const char* kScript = SCRIVIA_SOURCE_DIR "/scripts/private-pulse.sh";
    bool script(const char* command) const {
        ChildProcess child({"/bin/bash", kScript, command, dir_.string()}, {"PATH=/usr/bin:/bin"});
        child.closeStdin();
        while (child.readLine(SteadyClock::now() + 30s)) {
        }
        return child.wait(SteadyClock::now() + 30s) == 0;
    }

    std::filesystem::path dir_;
};

}  // namespace scrivia::testing
