// The private sound server of scripts/private-pulse.sh for tests, its
// microphone fed by the same script, and a bounded way to run programs.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A program (by absolute path) run with exactly `environment`, its stdin and
// stdout on pipes and its stderr kept in memory. Every wait takes a deadline;
// the destructor ends the program if it still runs.
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
        signal(SIGPIPE, SIG_IGN);  // a write to a child that is gone fails instead
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || err_ < 0)
            throw std::runtime_error("pipe");
        std::vector<char*> args, env;
        for (auto& s : argv) args.push_back(s.data());
        for (auto& s : environment) env.push_back(s.data());
        args.push_back(nullptr), env.push_back(nullptr);
        if ((pid = fork()) == 0) {  // only async-signal-safe calls from here to exec
            dup2(in[0], 0), dup2(out[1], 1), dup2(err_, 2);
            execve(args[0], args.data(), env.data());
            _exit(127);
        }
        if (pid < 0) throw std::runtime_error("fork");
        close(in[0]), close(out[1]);
        stdin_ = in[1], stdout_ = out[0];
    }
    ~ChildProcess() {
        if (!status_ && kill(pid, SIGTERM) == 0 && !wait(SteadyClock::now() + 3s))
            kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
        closeStdin(), closeStdout(), close(err_);
    }

    void send(std::string_view text) { (void)!write(stdin_, text.data(), text.size()); }
    void closeStdin() { close(std::exchange(stdin_, -1)); }
    void closeStdout() { close(std::exchange(stdout_, -1)); }
    int stdoutPipe() const { return stdout_; }
    std::string errors() const { return slurp("/proc/self/fd/" + std::to_string(err_)); }

    // The next line of stdout without its newline; nullopt at the end of
    // output, or at the deadline once nothing more is waiting.
    std::optional<std::string> readLine(SteadyClock::time_point deadline) {
        for (char c;;) {
            pollfd ready{stdout_, POLLIN, 0};
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (poll(&ready, 1, std::max(0, int(left.count()))) <= 0 || read(stdout_, &c, 1) != 1)
                return std::nullopt;
            if (c == '\n') return std::exchange(buffer_, "");
            buffer_ += c;
        }
    }

    // The exit status (128 plus the signal that ended it), or nullopt if the
    // program still runs at the deadline.
    std::optional<int> wait(SteadyClock::time_point deadline) {
        for (int raw; !status_ && SteadyClock::now() < deadline; std::this_thread::sleep_for(5ms))
            if (waitpid(pid, &raw, WNOHANG) == pid)
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
    }

    pid_t pid = -1;

  private:
    int stdin_ = -1, stdout_ = -1, err_ = memfd_create("stderr", MFD_CLOEXEC);
    std::string buffer_;  // the line being read from stdout
    std::optional<int> status_;
};

// Runs a program with no input to its end; its output if it exits with 0.
inline std::optional<std::string> output(std::vector<std::string> argv,
                                         std::vector<std::string> environment) {
    ChildProcess child(std::move(argv), std::move(environment));
    child.closeStdin();
    std::string out;
    for (auto deadline = SteadyClock::now() + 30s; auto line = child.readLine(deadline);)
        out += *line + "\n";
    if (child.wait(SteadyClock::now() + 30s) != 0) return std::nullopt;
    return out;
}

// A daemon started by scripts/private-pulse.sh in a folder of its own.
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
        for (char sink[4096]; read(fifo, sink, sizeof sink) > 0;) continue;
        close(fifo);
    }
    bool kill() const { return ::kill(std::stoi(slurp(dir_ / "daemon.pid")), SIGKILL) == 0; }
    bool restart() const { return script("stop") && script("start"); }

    std::optional<std::string> pactl(std::vector<std::string> args) const {
        args.insert(args.begin(), "/usr/bin/pactl");
        return output(std::move(args), clientEnvironment());
    }
    // Once a client records the microphone; false after 30 s.
    bool recording() const { return script("recording"); }

  private:
    static constexpr const char* kScript = SCRIVIA_SOURCE_DIR "/scripts/private-pulse.sh";
    bool script(const char* command) const {
        return output({"/bin/bash", kScript, command, dir_.string()}, {"PATH=/usr/bin:/bin"})
            .has_value();
    }

    std::filesystem::path dir_;
};

}  // namespace scrivia::testing
