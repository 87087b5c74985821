// A private PulseAudio server for tests, with a microphone the test speaks into.
//
// PrivatePulse starts its own `pulseaudio` daemon in a fresh temporary folder:
// its socket, runtime and state live there, so no other sound server on the
// machine is ever touched. Its default source is a module-pipe-source whose
// FIFO the fixture feeds at real-time pace from a feeder thread: queued audio
// when there is some, silence otherwise, because the pipe source produces
// exactly what is written and nothing while no one writes. Clients reach the
// server only through PULSE_SERVER=serverAddress() in their environment.
//
// Also here: a 16-bit PCM WAV reader and ChildProcess, a bounded way to run a
// program with pipes on its standard streams.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
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

// ---------------------------------------------------------------------------
// WAV files
// ---------------------------------------------------------------------------

// 16-bit PCM audio; samples are interleaved by channel.
struct WavAudio {
    std::vector<std::int16_t> samples;
    unsigned sampleRate = 0;
    unsigned channels = 0;

    std::size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
    double seconds() const { return sampleRate == 0 ? 0.0 : double(frames()) / sampleRate; }
};

// Reads a RIFF/WAVE file of 16-bit PCM, mono or stereo. Throws
// std::runtime_error naming the file when it cannot.
inline WavAudio readWav(const std::filesystem::path& path) {
    auto fail = [&](const std::string& why) -> std::runtime_error {
        return std::runtime_error(path.string() + ": " + why);
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) throw fail("cannot open");
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) { return unsigned(bytes[at]) | unsigned(bytes[at + 1]) << 8; };
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16;
    };

    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        throw fail("not a RIFF/WAVE file");
    }
    WavAudio audio;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        std::uint32_t size = u32(at + 4);
        std::size_t body = at + 8;
        std::size_t available = std::min<std::size_t>(size, bytes.size() - body);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0) {
            if (available < 16) throw fail("short fmt chunk");
            unsigned tag = u16(body);
            audio.channels = u16(body + 2);
            audio.sampleRate = u32(body + 4);
            unsigned bits = u16(body + 14);
            // 0xFFFE (extensible) carries PCM too; its bit depth is checked below.
            if (tag != 1 && tag != 0xFFFE)
                throw fail("not PCM (format tag " + std::to_string(tag) + ")");
            if (bits != 16) throw fail(std::to_string(bits) + "-bit samples, expected 16");
            if (audio.channels < 1 || audio.channels > 2) throw fail("expected mono or stereo");
            if (audio.sampleRate == 0) throw fail("sample rate 0");
            haveFormat = true;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            if (!haveFormat) throw fail("data before fmt");
            std::size_t frameBytes = 2 * audio.channels;
            std::size_t usable = available - available % frameBytes;
            audio.samples.resize(usable / 2);
            for (std::size_t i = 0; i < audio.samples.size(); ++i) {
                audio.samples[i] = std::int16_t(std::uint16_t(u16(body + 2 * i)));
            }
            return audio;
        }
        at = body + size + (size & 1);  // chunks are padded to even sizes
    }
    throw fail(haveFormat ? "no data chunk" : "no fmt chunk");
}

// ---------------------------------------------------------------------------
// Child processes
// ---------------------------------------------------------------------------

namespace detail {

// write() that reports EPIPE instead of killing the test with SIGPIPE.
inline ssize_t writeWithoutSigpipe(int fd, const void* data, std::size_t size) {
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    ssize_t written = ::write(fd, data, size);
    int error = errno;
    if (written < 0 && error == EPIPE) {
        // The SIGPIPE raised for this thread is pending; take it before unblocking.
        timespec zero{};
        while (sigtimedwait(&pipeSignal, nullptr, &zero) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

inline int millisecondsUntil(SteadyClock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return int(std::clamp<std::int64_t>(left.count(), 0, 1000));
}

inline std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace detail

// How a child ended, as waitpid reported it.
struct ExitStatus {
    int raw = 0;
    bool exited() const { return WIFEXITED(raw); }
    int code() const { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }
    int signal() const { return WIFSIGNALED(raw) ? WTERMSIG(raw) : 0; }
    std::string describe() const {
        if (WIFEXITED(raw)) return "exit " + std::to_string(WEXITSTATUS(raw));
        if (WIFSIGNALED(raw)) return std::string("signal ") + strsignal(WTERMSIG(raw));
        return "status " + std::to_string(raw);
    }
};

// A program run with pipes on stdin, stdout and stderr, and exactly the
// environment given. Every wait takes a deadline. The destructor kills the
// child if it still runs, so a failing test never leaves it behind; the child
// also gets SIGKILL if the thread that started it ends (keep that thread alive
// for the child's life: the main test thread is).
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
        if (argv.empty()) throw std::invalid_argument("ChildProcess: empty argv");
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        // Everything the child needs is built before fork: after it, only
        // async-signal-safe calls are allowed.
        auto args = detail::cStrings(argv);
        auto env = detail::cStrings(environment);
        pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            close_range(3, ~0U, 0);
            execve(args[0], args.data(), env.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
        fcntl(stdout_, F_SETFL, O_NONBLOCK);
        fcntl(stderr_, F_SETFL, O_NONBLOCK);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    ~ChildProcess() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            int raw = 0;
            while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
            }
        }
        for (int fd : {stdin_, stdout_, stderr_}) {
            if (fd >= 0) close(fd);
        }
    }

    pid_t pid() const { return pid_; }

    // False when the child no longer reads its input.
    bool writeStdin(std::string_view text) {
        while (!text.empty()) {
            if (stdin_ < 0) return false;
            ssize_t n = detail::writeWithoutSigpipe(stdin_, text.data(), text.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            text.remove_prefix(std::size_t(n));
        }
        return true;
    }

    void closeStdin() {
        if (stdin_ >= 0) close(stdin_);
        stdin_ = -1;
    }

    // The next line of stdout without its newline; nullopt at end of output
    // (see stdoutClosed()) or when the deadline passes first.
    std::optional<std::string> readLine(SteadyClock::time_point deadline) {
        for (;;) {
            auto newline = out_.find('\n');
            if (newline != std::string::npos) {
                std::string line = out_.substr(0, newline);
                out_.erase(0, newline + 1);
                return line;
            }
            if (stdout_ < 0) {
                if (out_.empty()) return std::nullopt;
                return std::exchange(out_, {});  // a last line without newline
            }
            if (SteadyClock::now() >= deadline) return std::nullopt;
            pump(deadline);
        }
    }

    // Everything left on stdout until it closes, or until the deadline.
    std::string readRest(SteadyClock::time_point deadline) {
        while (stdout_ >= 0 && SteadyClock::now() < deadline) pump(deadline);
        return std::exchange(out_, {});
    }

    bool stdoutClosed() const { return stdout_ < 0; }

    // What the child has written to stderr so far.
    const std::string& stderrText() {
        drain(stderr_, err_);
        return err_;
    }

    // Waits for the child to end; nullopt if it still runs at the deadline.
    std::optional<ExitStatus> wait(SteadyClock::time_point deadline) {
        while (!status_) {
            int raw = 0;
            pid_t r = waitpid(pid_, &raw, WNOHANG);
            if (r == pid_) {
                status_ = ExitStatus{raw};
                break;
            }
            if (r < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
            if (SteadyClock::now() >= deadline) return std::nullopt;
            // Keep the pipes flowing so a chatty child cannot block on them.
            pump(std::min(deadline, SteadyClock::now() + 20ms));
        }
        drain(stderr_, err_);
        return status_;
    }

    void kill(int signal) {
        if (!status_) ::kill(pid_, signal);
    }

  private:
    // Reads what is available on stdout and stderr, waiting at most until deadline.
    void pump(SteadyClock::time_point deadline) {
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        int ready = poll(fds, 2, detail::millisecondsUntil(deadline));
        if (ready <= 0) return;
        if (fds[0].revents) drain(stdout_, out_);
        if (fds[1].revents) drain(stderr_, err_);
    }

    static void drain(int& fd, std::string& into) {
        char buffer[4096];
        while (fd >= 0) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, std::size_t(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                close(fd);
                fd = -1;
            } else if (errno == EAGAIN) {
                return;
            }
        }
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
    std::string out_;
    std::string err_;
    std::optional<ExitStatus> status_;
};

// ---------------------------------------------------------------------------
// The private server
// ---------------------------------------------------------------------------

enum class PipeFormat { s16le, float32le };

class PrivatePulse {
  public:
    // A server whose default source delivers `sampleRate` Hz, `channels`
    // channels, carried through the pipe as `format`. Throws
    // std::runtime_error (with the daemon's log) if the server does not come up.
    explicit PrivatePulse(unsigned sampleRate = 16000, unsigned channels = 1,
                          PipeFormat format = PipeFormat::s16le)
        : rate_(sampleRate), channels_(channels), format_(format) {
        if (rate_ == 0 || channels_ == 0) throw std::invalid_argument("PrivatePulse: empty format");
        // /tmp rather than $TMPDIR: a unix socket path must stay under 108 bytes.
        char pattern[] = "/tmp/scrivia-pulse.XXXXXX";
        removeStaleFolders();
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        address_ = "unix:" + (dir_ / "native").string();
        try {
            startDaemon();
            openPipe();
        } catch (...) {
            stopDaemon();
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
            throw;
        }
        feeder_ = std::make_unique<std::thread>([this] { feed(); });
    }

    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    ~PrivatePulse() {
        // A forked copy of the test (a death test, a child that exits) owns
        // neither the daemon nor the feeder thread, which it does not have.
        if (getpid() != owner_) {
            (void)feeder_.release();
            return;
        }
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (feeder_) feeder_->join();
        for (int fd : {writeFd_, drainFd_}) {
            if (fd >= 0) close(fd);
        }
        stopDaemon();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // "unix:<dir>/native": give it to clients as PULSE_SERVER in their environment.
    const std::string& serverAddress() const { return address_; }
    const std::filesystem::path& directory() const { return dir_; }
    pid_t daemonPid() const { return pid_; }
    unsigned sampleRate() const { return rate_; }
    unsigned channels() const { return channels_; }

    // PATH, HOME and PULSE_SERVER for a client of this server (HOME is private
    // too, so libpulse reads no user's configuration).
    std::vector<std::string> clientEnvironment() const {
        return {"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + (dir_ / "home").string(),
                "PULSE_SERVER=" + address_};
    }

    // Queues a recording after whatever is queued, converted to the pipe's
    // channels (mono copied to every channel, stereo averaged to mono) and rate
    // (linear interpolation).
    void play(const WavAudio& audio) {
        std::vector<float> interleaved(audio.samples.size());
        std::transform(audio.samples.begin(), audio.samples.end(), interleaved.begin(),
                       [](std::int16_t s) { return float(s) / 32768.0f; });
        auto converted = convert(interleaved, audio.channels, audio.sampleRate);
        enqueue(converted);
    }

    // Queues interleaved samples in [-1, 1] at the pipe's own rate and channels.
    void play(std::span<const float> interleaved) { enqueue(interleaved); }

    void playSilence(double seconds) {
        std::vector<float> silence(std::size_t(std::lround(seconds * rate_)) * channels_, 0.0f);
        enqueue(silence);
    }

    // Seconds of queued audio the pipe has not yet taken.
    double queuedSeconds() const {
        std::lock_guard lock(mutex_);
        return double(queue_.size() + pending_.size()) / frameBytes() / rate_;
    }

    // Waits until the pipe has taken everything queued. While nothing records
    // from the source the pipe is not read, so queued audio waits for a reader.
    bool waitUntilPlayed(SteadyClock::time_point deadline) const {
        std::unique_lock lock(mutex_);
        return played_.wait_until(lock, deadline,
                                  [&] { return queue_.empty() && pending_.empty(); });
    }

    // Frames the pipe has taken since the start, silence included.
    std::uint64_t framesFed() const { return fedFrames_.load(); }

    // Drops everything queued and what sits unread in the pipe, so that one
    // test's audio cannot reach the next test's recorder.
    void clear() {
        std::lock_guard lock(mutex_);
        queue_.clear();
        pending_.clear();
        char sink[4096];
        while (read(drainFd_, sink, sizeof sink) > 0) {
        }
        played_.notify_all();
    }

    // Runs a client of this server (pactl, parec...) given by absolute path,
    // and returns its exit status and stdout; nullopt if it outlives `timeout`.
    struct ClientRun {
        ExitStatus status;
        std::string output;
    };
    std::optional<ClientRun> runClient(std::vector<std::string> argv,
                                       std::chrono::milliseconds timeout = 10s) const {
        ChildProcess child(std::move(argv), clientEnvironment());
        child.closeStdin();
        auto deadline = SteadyClock::now() + timeout;
        std::string output = child.readRest(deadline);
        auto status = child.wait(deadline);
        if (!status) return std::nullopt;
        return ClientRun{*status, output};
    }

    // Waits until a client records from the microphone source.
    bool waitUntilRecording(SteadyClock::time_point deadline) const {
        while (SteadyClock::now() < deadline) {
            auto run = runClient({"/usr/bin/pactl", "list", "short", "sources"});
            std::string_view rest = run ? std::string_view(run->output) : std::string_view{};
            while (!rest.empty()) {
                auto end = rest.find('\n');
                std::string_view line = rest.substr(0, end);
                if (line.find("\tmic\t") != std::string_view::npos &&
                    line.find("RUNNING") != std::string_view::npos) {
                    return true;
                }
                rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Stops the daemon now (SIGTERM, then SIGKILL after a bound), as when the
    // sound server goes away. Idempotent; the destructor calls it too.
    void stopDaemon() {
        if (pid_ <= 0 || getpid() != owner_) return;
        ::kill(pid_, SIGTERM);
        auto deadline = SteadyClock::now() + 5s;
        int raw = 0;
        for (;;) {
            pid_t r = waitpid(pid_, &raw, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) break;
            if (SteadyClock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
    }

    bool daemonRunning() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }

    // What the daemon wrote to its log, for failure messages.
    std::string daemonLog() const {
        std::ifstream in(dir_ / "daemon.log");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

  private:
    static constexpr auto kChunk = 20ms;

    std::size_t frameBytes() const { return channels_ * (format_ == PipeFormat::s16le ? 2u : 4u); }

    void startDaemon() {
        namespace fs = std::filesystem;
        for (const char* sub : {"home", "runtime", "state", "config"})
            fs::create_directory(dir_ / sub);
        const std::string fifo = (dir_ / "mic.fifo").string();
        const std::string socket = (dir_ / "native").string();
        {
            std::ofstream script(dir_ / "default.pa");
            // .fail: a module that does not load stops the daemon instead of
            // leaving a server without its microphone. The socket comes last, so
            // a client that gets in finds the source already there.
            script << ".fail\n"
                   << "load-module module-null-sink sink_name=speaker\n"
                   << "load-module module-pipe-source source_name=mic file=" << fifo
                   << " format=" << (format_ == PipeFormat::s16le ? "s16le" : "float32le")
                   << " rate=" << rate_ << " channels=" << channels_ << "\n"
                   << "set-default-sink speaker\n"
                   << "set-default-source mic\n"
                   << "load-module module-native-protocol-unix socket=" << socket
                   << " auth-anonymous=1\n";
            if (!script) throw std::runtime_error("cannot write " + (dir_ / "default.pa").string());
        }
        std::vector<std::string> argv = {
            "/usr/bin/pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
            "--use-pid-file=no", "--disable-shm=yes", "--high-priority=no", "--realtime=no",
            // A busy test machine must not make the daemon kill itself.
            "--no-cpu-limit=yes", "--log-target=stderr", "-F", (dir_ / "default.pa").string()};
        std::vector<std::string> environment = {"PATH=/usr/bin:/bin",
                                                "HOME=" + (dir_ / "home").string(),
                                                "XDG_CONFIG_HOME=" + (dir_ / "config").string(),
                                                "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
                                                "PULSE_RUNTIME_PATH=" + (dir_ / "runtime").string(),
                                                "PULSE_STATE_PATH=" + (dir_ / "state").string()};
        std::string log = (dir_ / "daemon.log").string();
        auto args = detail::cStrings(argv);
        auto env = detail::cStrings(environment);
        pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            // The daemon goes with the test even if the test is killed.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            int null = open("/dev/null", O_RDONLY);
            int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (null < 0 || out < 0) _exit(127);
            dup2(null, 0);
            dup2(out, 1);
            dup2(out, 2);
            close_range(3, ~0U, 0);
            if (chdir(dir_.c_str()) != 0) _exit(127);
            execve(args[0], args.data(), env.data());
            _exit(127);
        }
        waitForSocket(socket, SteadyClock::now() + 15s);
    }

    static bool acceptsClients(const std::string& socketPath) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error("socket failed");
        bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return accepted;
    }

    // A test killed before its destructor ran leaves its folder behind (its
    // daemon went with it). Folders of this fixture older than an hour whose
    // server no longer answers are such leftovers.
    static void removeStaleFolders() {
        namespace fs = std::filesystem;
        std::error_code error;
        auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (const auto& entry : fs::directory_iterator("/tmp", error)) {
            if (entry.path().filename().string().rfind("scrivia-pulse.", 0) != 0) continue;
            std::error_code ignored;
            if (!entry.is_directory(ignored) || entry.last_write_time(ignored) > old) continue;
            if (acceptsClients((entry.path() / "native").string())) continue;
            fs::remove_all(entry.path(), ignored);
        }
    }

    void waitForSocket(const std::string& path, SteadyClock::time_point deadline) {
        for (;;) {
            int raw = 0;
            if (waitpid(pid_, &raw, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("pulseaudio ended (" + ExitStatus{raw}.describe() +
                                         "):\n" + daemonLog());
            }
            if (acceptsClients(path)) return;
            if (SteadyClock::now() >= deadline) {
                throw std::runtime_error("pulseaudio did not open its socket in time:\n" +
                                         daemonLog());
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    void openPipe() {
        const std::string fifo = (dir_ / "mic.fifo").string();
        // The daemon holds the FIFO open for reading, so this does not block.
        writeFd_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writeFd_ < 0) {
            throw std::runtime_error("cannot open " + fifo + ": " + std::strerror(errno));
        }
        // Our own read end lets clear() empty the FIFO.
        drainFd_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (drainFd_ < 0) throw std::runtime_error("cannot open " + fifo + " for reading");
        // A small pipe: while nothing records, the pipe fills and its stale
        // content reaches the next recorder in one burst; keep that burst short.
        std::size_t chunkBytes = chunkFrames() * frameBytes();
        fcntl(writeFd_, F_SETPIPE_SZ, int(std::max<std::size_t>(4096, 4 * chunkBytes)));
    }

    std::size_t chunkFrames() const {
        return std::max<std::size_t>(1, rate_ * std::size_t(kChunk.count()) / 1000);
    }

    std::vector<float> convert(std::span<const float> in, unsigned inChannels,
                               unsigned inRate) const {
        std::size_t inFrames = in.size() / inChannels;
        auto sampleAt = [&](std::size_t frame, unsigned channel) {
            if (inChannels == channels_) return in[frame * inChannels + channel];
            if (channels_ == 1) {
                float sum = 0;
                for (unsigned c = 0; c < inChannels; ++c) sum += in[frame * inChannels + c];
                return sum / float(inChannels);
            }
            return in[frame * inChannels + std::min(channel, inChannels - 1)];
        };
        std::size_t outFrames =
            inRate == rate_ ? inFrames : std::size_t(double(inFrames) * rate_ / inRate);
        std::vector<float> out(outFrames * channels_);
        for (std::size_t f = 0; f < outFrames; ++f) {
            double position = inRate == rate_ ? double(f) : double(f) * inRate / rate_;
            std::size_t left = std::min(std::size_t(position), inFrames - 1);
            std::size_t right = std::min(left + 1, inFrames - 1);
            float fraction = float(position - double(left));
            for (unsigned c = 0; c < channels_; ++c) {
                out[f * channels_ + c] =
                    sampleAt(left, c) * (1 - fraction) + sampleAt(right, c) * fraction;
            }
        }
        return out;
    }

    void enqueue(std::span<const float> interleaved) {
        std::vector<unsigned char> bytes;
        bytes.reserve(interleaved.size() * 4);
        for (float sample : interleaved) {
            float clamped = std::clamp(sample, -1.0f, 1.0f);
            if (format_ == PipeFormat::s16le) {
                auto value = std::uint16_t(std::int16_t(std::lround(clamped * 32767.0f)));
                bytes.push_back(std::uint8_t(value & 0xFF));
                bytes.push_back(std::uint8_t(value >> 8));
            } else {
                std::uint32_t value;
                std::memcpy(&value, &clamped, sizeof value);
                for (int shift = 0; shift < 32; shift += 8)
                    bytes.push_back(std::uint8_t(value >> shift));
            }
        }
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.end(), bytes.begin(), bytes.end());
    }

    // The feeder thread: every 20 ms of steady time, one chunk of queued audio
    // (or silence) moves to the pending bytes, and as many of them as the FIFO
    // takes are written. Pending bytes are capped, so while nothing reads the
    // pipe the queue simply waits.
    void feed() {
        pthread_setname_np(pthread_self(), "pulse-feeder");
        const std::size_t chunkBytes = chunkFrames() * frameBytes();
        const std::size_t pendingCap = 10 * chunkBytes;
        auto next = SteadyClock::now();
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            next += kChunk;
            // After a long stall (a loaded machine), catch up at most half a second.
            next = std::max(next, SteadyClock::now() - 500ms);
            if (wake_.wait_until(lock, next, [&] { return stopping_; })) break;
            if (pending_.size() < pendingCap) {
                std::size_t take = std::min(chunkBytes, queue_.size());
                pending_.insert(pending_.end(), queue_.begin(), queue_.begin() + long(take));
                queue_.erase(queue_.begin(), queue_.begin() + long(take));
                pending_.resize(pending_.size() + (chunkBytes - take), 0);  // silence
            }
            writePending();
            if (queue_.empty() && pending_.empty()) played_.notify_all();
        }
    }

    // Called with mutex_ held; the FIFO is non-blocking, so this never waits.
    void writePending() {
        while (!pending_.empty()) {
            std::size_t size = pending_.size();
            ssize_t n = detail::writeWithoutSigpipe(writeFd_, pending_.data(), size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;  // full (nobody records) or the daemon is gone
            pending_.erase(pending_.begin(), pending_.begin() + n);
            fedBytes_ += std::size_t(n);
            fedFrames_.store(fedBytes_ / frameBytes());
        }
    }

    const unsigned rate_;
    const unsigned channels_;
    const PipeFormat format_;
    const pid_t owner_ = getpid();
    std::filesystem::path dir_;
    std::string address_;
    pid_t pid_ = -1;
    int writeFd_ = -1;
    int drainFd_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    mutable std::condition_variable played_;
    bool stopping_ = false;               // guarded by mutex_
    std::deque<unsigned char> queue_;     // guarded by mutex_: not yet due
    std::vector<unsigned char> pending_;  // guarded by mutex_: due, not yet taken
    std::uint64_t fedBytes_ = 0;          // feeder thread only
    std::atomic<std::uint64_t> fedFrames_{0};
    std::unique_ptr<std::thread> feeder_;
};

}  // namespace scrivia::testing
