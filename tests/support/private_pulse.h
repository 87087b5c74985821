// A private PulseAudio server for tests, with a microphone the test speaks into.
//
// PrivatePulse starts its own `pulseaudio` daemon in a fresh temporary folder:
// its socket, runtime and state live there, so no other sound server on the
// machine is ever touched, and it is stopped by its own pid. Its default source
// is a module-pipe-source whose FIFO a feeder thread writes at real-time pace:
// queued audio when there is some, silence otherwise, because the pipe source
// produces exactly what is written and nothing while no one writes. Clients
// reach the server only through PULSE_SERVER=serverAddress() in their
// environment.
//
// Also here: a reader for 16-bit mono WAV files and ChildProcess, a bounded way
// to run a program with pipes on its standard streams.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace scrivia::testing {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// The samples, in [-1, 1), of a plain 44-byte-header WAV file of 16-bit mono
// PCM at `rate` Hz. Throws std::runtime_error naming the file otherwise.
inline std::vector<float> readMonoWav(const std::filesystem::path& path, unsigned rate) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&](std::size_t at) {
        return std::uint16_t(std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8);
    };
    auto u32 = [&](std::size_t at) { return u16(at) | std::uint32_t(u16(at + 2)) << 16; };
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 ||
        bytes.compare(8, 8, "WAVEfmt ") != 0 || bytes.compare(36, 4, "data") != 0 || u16(20) != 1 ||
        u16(22) != 1 || u32(24) != rate || u16(34) != 16) {
        throw std::runtime_error(path.string() + ": not 16-bit PCM mono at " +
                                 std::to_string(rate) + " Hz");
    }
    std::vector<float> samples(std::min<std::size_t>(u32(40), bytes.size() - 44) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = float(std::int16_t(u16(44 + 2 * i))) / 32768;
    }
    return samples;
}

namespace detail {

// Runs `argv[0]` (an absolute path) with exactly `environment`, and `fds` as
// its stdin, stdout and stderr. The child is killed if the thread that started
// it ends (the main test thread: it lives as long as the test). SIGPIPE is
// ignored here, so that a write to a child that is gone fails instead of
// killing the test; children get the default back.
inline pid_t spawn(std::vector<std::string> argv, std::vector<std::string> environment,
                   std::array<int, 3> fds) {
    signal(SIGPIPE, SIG_IGN);
    // Built before fork: after it, only async-signal-safe calls are allowed.
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (auto& s : strings) result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    };
    auto args = pointers(argv), env = pointers(environment);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        signal(SIGPIPE, SIG_DFL);
        for (int i = 0; i < 3; ++i) dup2(fds[i], i);
        close_range(3, ~0U, 0);
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    return pid;
}

}  // namespace detail

// A program run with pipes on its standard streams and exactly the environment
// given. Every wait takes a deadline; the destructor kills the child if it
// still runs, so a failing test never leaves it behind.
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        pid_ = detail::spawn(std::move(argv), std::move(environment), {in[0], out[1], err[1]});
        for (int fd : {in[0], out[1], err[1]}) close(fd);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
        fcntl(stdout_, F_SETFL, O_NONBLOCK);
        fcntl(stderr_, F_SETFL, O_NONBLOCK);
    }
    ~ChildProcess() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {stdin_, stdout_, stderr_}) close(fd);  // -1 does no harm
    }

    // False when the child no longer reads its input.
    bool writeStdin(std::string_view text) {
        return stdin_ >= 0 && write(stdin_, text.data(), text.size()) == ssize_t(text.size());
    }
    void closeStdin() { close(std::exchange(stdin_, -1)); }

    // The next line of stdout without its newline; nullopt at the end of the
    // output (see stdoutClosed()) or when the deadline passes first.
    std::optional<std::string> readLine(SteadyClock::time_point deadline) {
        for (;;) {
            if (auto newline = out_.find('\n'); newline != std::string::npos) {
                std::string line = out_.substr(0, newline);
                out_.erase(0, newline + 1);
                return line;
            }
            if (stdout_ < 0 && !out_.empty()) return std::exchange(out_, {});  // no newline
            if (stdout_ < 0 || SteadyClock::now() >= deadline) return std::nullopt;
            pump(deadline);
        }
    }

    // Everything left on stdout until it closes, or until the deadline.
    std::string readRest(SteadyClock::time_point deadline) {
        while (stdout_ >= 0 && SteadyClock::now() < deadline) pump(deadline);
        return std::exchange(out_, {});
    }

    bool stdoutClosed() const { return stdout_ < 0; }

    // What the child wrote to stderr, up to the last wait().
    const std::string& stderrText() const { return err_; }

    // Waits for the child to end: its exit code as waitpid gives it (128 plus
    // the signal that killed it), or nullopt if it still runs at the deadline.
    std::optional<int> wait(SteadyClock::time_point deadline) {
        int raw = 0;
        while (!status_) {
            if (waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            } else if (SteadyClock::now() >= deadline) {
                return std::nullopt;
            } else {
                // Keep the pipes flowing so a chatty child cannot block on them.
                pump(std::min(deadline, SteadyClock::now() + 20ms));
            }
        }
        drain(stderr_, err_);
        return status_;
    }

  private:
    // Reads what stdout and stderr have, waiting for some at most until deadline.
    void pump(SteadyClock::time_point deadline) {
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (poll(fds, 2, int(std::clamp<std::int64_t>(left.count(), 0, 1000))) <= 0) return;
        drain(stdout_, out_);
        drain(stderr_, err_);
    }

    // Appends what `fd` holds now; closes it at the end of the stream.
    static void drain(int& fd, std::string& into) {
        char buffer[4096];
        ssize_t n = 0;
        while (fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0) into.append(buffer, n);
        if (fd >= 0 && (n == 0 || (errno != EAGAIN && errno != EINTR)))
            close(std::exchange(fd, -1));
    }

    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    std::string out_, err_;
    std::optional<int> status_;
};

// The private server. Audio is interleaved 32-bit floats at the rate and
// channel count given to the constructor.
class PrivatePulse {
  public:
    // Throws std::runtime_error, with the daemon's log, if the server does not
    // come up.
    PrivatePulse(unsigned sampleRate, unsigned channels) : rate_(sampleRate), channels_(channels) {
        // /tmp rather than $TMPDIR: a unix socket path must stay under 108 bytes.
        char pattern[] = "/tmp/scrivia-pulse.XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        try {
            start();
        } catch (...) {
            stop();
            throw;
        }
        feeder_ = std::thread([this] { feed(); });
    }
    ~PrivatePulse() {
        stopping_ = true;
        feeder_.join();
        stop();
    }

    // Give it to clients as PULSE_SERVER in their environment.
    std::string serverAddress() const { return "unix:" + (dir_ / "native").string(); }
    const std::filesystem::path& directory() const { return dir_; }

    // PATH, HOME and PULSE_SERVER for a client of this server (HOME is the
    // server's folder, so libpulse reads no user's configuration).
    std::vector<std::string> clientEnvironment() const {
        return {"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + dir_.string(),
                "PULSE_SERVER=" + serverAddress()};
    }

    // Queues samples after whatever is queued.
    void play(std::span<const float> samples) {
        const auto* bytes = reinterpret_cast<const char*>(samples.data());
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.end(), bytes, bytes + samples.size_bytes());
    }
    void playSilence(double seconds) {
        play(std::vector<float>(std::size_t(seconds * rate_) * channels_, 0.0f));
    }

    // Seconds of queued audio the pipe has not yet taken.
    double queuedSeconds() const {
        std::lock_guard lock(mutex_);
        return double(queue_.size()) / sizeof(float) / channels_ / rate_;
    }

    // Waits until the pipe has taken everything queued. While nothing records
    // from the source the daemon does not read the pipe, so audio waits.
    bool waitUntilPlayed(SteadyClock::time_point deadline) const {
        for (; queuedSeconds() > 0; std::this_thread::sleep_for(10ms)) {
            if (SteadyClock::now() >= deadline) return false;
        }
        return true;
    }

    // Drops everything queued and what sits unread in the pipe, so that one
    // test's audio cannot reach the next test's recorder.
    void clear() {
        std::lock_guard lock(mutex_);
        queue_.clear();
        char sink[4096];
        while (read(drainFd_, sink, sizeof sink) > 0) {
        }
    }

    // Runs a client of this server (pactl...) given by absolute path; its
    // output if it exits with 0 within 10 s.
    std::optional<std::string> runClient(std::vector<std::string> argv) const {
        ChildProcess child(std::move(argv), clientEnvironment());
        child.closeStdin();
        auto deadline = SteadyClock::now() + 10s;
        std::string output = child.readRest(deadline);
        if (child.wait(deadline) != 0) return std::nullopt;
        return output;
    }

    // Waits until a client records from the microphone.
    bool waitUntilRecording(SteadyClock::time_point deadline) const {
        for (; SteadyClock::now() < deadline; std::this_thread::sleep_for(50ms)) {
            // "1\tmic\tmodule-pipe-source.c\tfloat32le 1ch 16000Hz\tRUNNING"
            auto sources = runClient({"/usr/bin/pactl", "list", "short", "sources"});
            auto at = sources ? sources->find("\tmic\t") : std::string::npos;
            if (at != std::string::npos &&
                sources->substr(at, sources->find('\n', at) - at).ends_with("RUNNING")) {
                return true;
            }
        }
        return false;
    }

    // What the daemon wrote to its log, for failure messages.
    std::string daemonLog() const {
        std::ifstream in(dir_ / "daemon.log");
        return {std::istreambuf_iterator<char>(in), {}};
    }

  private:
    // 10 ms of audio: at most PIPE_BUF bytes for 48 kHz stereo, so the pipe
    // takes a chunk whole or not at all.
    std::size_t chunkBytes() const { return rate_ / 100 * channels_ * sizeof(float); }

    void start() {
        const std::string fifo = (dir_ / "mic.fifo").string();
        const std::string socket = (dir_ / "native").string();
        // The socket comes last, so a client that gets in finds the source
        // already there. A source that did not load leaves no FIFO behind.
        std::ofstream(dir_ / "default.pa")
            << "load-module module-null-sink sink_name=speaker\n"
            << "load-module module-pipe-source source_name=mic file=" << fifo
            << " format=float32ne rate=" << rate_ << " channels=" << channels_ << "\n"
            << "set-default-sink speaker\n"
            << "set-default-source mic\n"
            << "load-module module-native-protocol-unix socket=" << socket << " auth-anonymous=1\n";
        const std::string d = dir_.string();
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int log = open((d + "/daemon.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        pid_ = detail::spawn(
            {"/usr/bin/pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
             "--use-pid-file=no", "--disable-shm=yes", "--high-priority=no", "--realtime=no",
             // A busy test machine must not make the daemon kill itself.
             "--no-cpu-limit=yes", "--log-target=stderr", "-F", d + "/default.pa"},
            // Runtime files and state in the folder too.
            {"PATH=/usr/bin:/bin", "HOME=" + d, "XDG_RUNTIME_DIR=" + d}, {null, log, log});
        close(null);
        close(log);

        for (auto deadline = SteadyClock::now() + 15s; !runClient({"/usr/bin/pactl", "info"});
             std::this_thread::sleep_for(20ms)) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;  // reaped: not ours to kill
            if (pid_ < 0 || SteadyClock::now() >= deadline) {
                throw std::runtime_error("pulseaudio did not come up:\n" + daemonLog());
            }
        }

        // The daemon holds the FIFO open for reading, so this does not block.
        writeFd_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        // Our own read end lets clear() empty the FIFO.
        drainFd_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (writeFd_ < 0 || drainFd_ < 0)
            throw std::runtime_error("no microphone FIFO:\n" + daemonLog());
        // A small pipe: while nothing records, the pipe fills and its stale
        // content reaches the next recorder in one burst; keep that burst short.
        fcntl(writeFd_, F_SETPIPE_SZ, int(8 * chunkBytes()));
    }

    // Kills the daemon by its pid (it keeps nothing outside the folder) and
    // removes the folder.
    void stop() {
        for (int fd : {writeFd_, drainFd_}) close(fd);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // The feeder thread: every 10 ms, the next chunk of queued audio, padded
    // with silence, goes to the pipe if it has room; while nothing reads the
    // pipe the queue simply waits.
    void feed() {
        pthread_setname_np(pthread_self(), "pulse-feeder");
        std::vector<char> chunk(chunkBytes());
        for (auto next = SteadyClock::now(); !stopping_;) {
            // After a stall (a loaded machine), catch up at most half a second.
            next = std::max(next + 10ms, SteadyClock::now() - 500ms);
            std::this_thread::sleep_until(next);
            std::lock_guard lock(mutex_);
            const auto take = long(std::min(chunk.size(), queue_.size()));
            std::fill(std::copy_n(queue_.begin(), take, chunk.begin()), chunk.end(), 0);
            // Non-blocking: fails when the pipe is full or the daemon gone.
            if (write(writeFd_, chunk.data(), chunk.size()) == ssize_t(chunk.size())) {
                queue_.erase(queue_.begin(), queue_.begin() + take);
            }
        }
    }

    const unsigned rate_;
    const unsigned channels_;
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    int writeFd_ = -1;
    int drainFd_ = -1;

    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::deque<char> queue_;  // guarded by mutex_: not yet in the pipe
    std::thread feeder_;
};

}  // namespace scrivia::testing
