// The private sound server of scripts/private-pulse.sh for tests, with a
// microphone the test speaks into, and a bounded way to run the programs that
// use it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "support/recordings.h"

namespace scrivia::testing {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A program (by absolute path) run with exactly `environment`, its stdin on a
// pipe and its stdout and stderr in files. Every wait takes a deadline; the
// destructor kills the program if it still runs.
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
        signal(SIGPIPE, SIG_IGN);  // a write to a child that is gone fails instead
        char pattern[] = "/tmp/scrivia-child.XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        const std::string out = dir_ / "out", err = dir_ / "err";
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &pipe);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        auto pointers = [](std::vector<std::string>& strings) {
            std::vector<char*> result;
            for (auto& s : strings) result.push_back(s.data());
            result.push_back(nullptr);
            return result;
        };
        auto args = pointers(argv), env = pointers(environment);
        const int failed =
            posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(in[0]);
        stdin_ = in[1];
        if (failed != 0) status_ = 127;
    }
    ~ChildProcess() {
        if (!status_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        close(stdin_);
        std::filesystem::remove_all(dir_);
    }

    bool send(std::string_view text) {
        return write(stdin_, text.data(), text.size()) == ssize_t(text.size());
    }
    void closeStdin() { close(std::exchange(stdin_, -1)); }

    // The next line of stdout without its newline; nullopt at the deadline,
    // or once the program has ended and every line is read.
    std::optional<std::string> readLine(SteadyClock::time_point deadline) {
        for (;; std::this_thread::sleep_for(5ms)) {
            const bool ended = status_.has_value() || exited();
            const std::string out = output();
            if (auto newline = out.find('\n', read_); newline != std::string::npos) {
                std::string line = out.substr(read_, newline - read_);
                read_ = newline + 1;
                return line;
            }
            if (ended || SteadyClock::now() >= deadline) return std::nullopt;
        }
    }

    // The exit status (128 plus the signal that ended it), or nullopt if the
    // program still runs at the deadline.
    std::optional<int> wait(SteadyClock::time_point deadline) {
        while (!status_ && !exited() && SteadyClock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        return status_;
    }

    std::string output() const { return slurp(dir_ / "out"); }
    std::string errors() const { return slurp(dir_ / "err"); }

  private:
    bool exited() {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return true;
    }

    std::filesystem::path dir_;
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::size_t read_ = 0;  // bytes of stdout returned as lines
    std::optional<int> status_;
};

// A daemon started by scripts/private-pulse.sh in a folder of its own. A
// feeder thread writes the microphone's FIFO every 10 ms, queued audio when
// there is some and silence otherwise, because the pipe source produces what
// is written and nothing while no one writes.
class PrivatePulse {
  public:
    PrivatePulse() {
        // /tmp rather than $TMPDIR: a unix socket path must stay under 108 bytes.
        char pattern[] = "/tmp/scrivia-pulse.XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        auto problem = script("start");
        // The daemon holds the FIFO open for reading, so these do not block.
        writeFd_ = open((dir_ / "mic.fifo").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        drainFd_ = open((dir_ / "mic.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (!problem && (writeFd_ < 0 || drainFd_ < 0)) problem = "no microphone FIFO";
        if (problem) {
            stop();
            throw std::runtime_error("private-pulse.sh start failed: " + *problem);
        }
        // A small pipe: while nothing records, its stale content reaches the
        // next recorder in one burst; keep that burst short.
        fcntl(writeFd_, F_SETPIPE_SZ, 4096);
        feeder_ = std::thread([this] { feed(); });
    }
    ~PrivatePulse() {
        stopping_ = true;
        feeder_.join();
        stop();
    }

    const std::filesystem::path& directory() const { return dir_; }
    std::string address() const { return "unix:" + (dir_ / "native").string(); }
    // For a client of this server only (HOME is the server's, so libpulse
    // reads no user's configuration).
    std::vector<std::string> clientEnvironment() const {
        return {"PATH=/usr/bin:/bin", "HOME=" + (dir_ / "home").string(),
                "PULSE_SERVER=" + address()};
    }

    // Queues audio after whatever is queued.
    void play(const Samples& samples) {
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.end(), samples.begin(), samples.end());
    }
    void playSilence(double seconds) { play(Samples(std::size_t(seconds * 16000), 0)); }
    double queuedSeconds() const {
        std::lock_guard lock(mutex_);
        return double(queue_.size()) / 16000;
    }
    bool waitUntilPlayed(SteadyClock::time_point deadline) const {
        for (; queuedSeconds() > 0; std::this_thread::sleep_for(10ms)) {
            if (SteadyClock::now() >= deadline) return false;
        }
        return true;
    }
    // Drops what is queued and what sits unread in the FIFO, so that one
    // test's audio cannot reach the next test's recorder.
    void clear() {
        std::lock_guard lock(mutex_);
        queue_.clear();
        char sink[4096];
        while (read(drainFd_, sink, sizeof sink) > 0) {
        }
    }

    // Runs a client of this server (pactl...); its output if it exits with 0.
    std::optional<std::string> runClient(std::vector<std::string> argv) const {
        ChildProcess child(std::move(argv), clientEnvironment());
        child.closeStdin();
        if (child.wait(SteadyClock::now() + 10s) != 0) return std::nullopt;
        return child.output();
    }
    bool waitUntilRecording(SteadyClock::time_point deadline) const {
        for (; SteadyClock::now() < deadline; std::this_thread::sleep_for(50ms)) {
            // "1\tmic\tmodule-pipe-source.c\ts16le 1ch 16000Hz\tRUNNING"
            auto sources = runClient({"/usr/bin/pactl", "list", "short", "sources"});
            auto at = sources ? sources->find("\tmic\t") : std::string::npos;
            if (at != std::string::npos &&
                sources->substr(at, sources->find('\n', at) - at).ends_with("RUNNING")) {
                return true;
            }
        }
        return false;
    }
    std::string daemonLog() const { return slurp(dir_ / "daemon.log"); }

  private:
    // Runs the script's `command` on the folder; why it failed, if it did.
    std::optional<std::string> script(const char* command) const {
        ChildProcess child(
            {"/bin/bash", SCRIVIA_SOURCE_DIR "/scripts/private-pulse.sh", command, dir_.string()},
            {"PATH=/usr/bin:/bin"});
        child.closeStdin();
        const auto status = child.wait(SteadyClock::now() + 30s);
        if (status == 0) return std::nullopt;
        return child.errors();
    }
    void stop() {
        for (int fd : {writeFd_, drainFd_}) close(fd);
        script("stop");
        std::filesystem::remove_all(dir_);
    }
    void feed() {
        std::vector<std::int16_t> chunk(160);
        for (auto next = SteadyClock::now(); !stopping_;) {
            // After a stall (a loaded machine), catch up at most half a second.
            next = std::max(next + 10ms, SteadyClock::now() - 500ms);
            std::this_thread::sleep_until(next);
            std::lock_guard lock(mutex_);
            const auto take = long(std::min(chunk.size(), queue_.size()));
            std::fill(std::copy_n(queue_.begin(), take, chunk.begin()), chunk.end(), 0);
            // Non-blocking: fails when the pipe is full or the daemon gone.
            if (write(writeFd_, chunk.data(), 320) == 320) {
                queue_.erase(queue_.begin(), queue_.begin() + take);
            }
        }
    }

    std::filesystem::path dir_;
    int writeFd_ = -1, drainFd_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::deque<std::int16_t> queue_;  // guarded by mutex_: not yet in the FIFO
    std::thread feeder_;
};

}  // namespace scrivia::testing
