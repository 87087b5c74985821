// The PulseAudio engine and microphone access, against a private PulseAudio
// daemon (never the machine's own sound server).
#include "platform/linux/pulse_engine.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <pulse/def.h>
#include <pulse/error.h>
#include <sys/socket.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>

#include "platform/linux/microphone.h"
#include "support/private_pulse.h"

namespace scrivia::platform::linux_ {
namespace {

using testing::PipeFormat;
using testing::PrivatePulse;
using namespace std::chrono_literals;

constexpr std::uint32_t kBufferFrames = 2048;

auto deadlineIn(std::chrono::seconds seconds) {
    return std::chrono::steady_clock::now() + seconds;
}

// Waits until `done` holds, for up to ten seconds.
template <typename Done>
bool eventually(Done done) {
    const auto deadline = deadlineIn(10s);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class PulseEngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            server_ = std::make_unique<PrivatePulse>(44100, 2, PipeFormat::float32le);
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server_) << startError_;
        // libpulse in this process reaches only the private server, and keeps
        // its cookie and configuration in the server's folder.
        for (const std::string& entry : server_->clientEnvironment()) {
            const auto equals = entry.find('=');
            if (entry.compare(0, equals, "PATH") == 0) continue;
            setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
        server_->clear();
    }

    static inline std::unique_ptr<PrivatePulse> server_;
    static inline std::string startError_;
};

TEST_F(PulseEngineTest, ReadsTheDefaultSourcesOwnFormatFromTheServer) {
    PulseEngine engine;
    const AudioFormat format = engine.inputFormat();
    EXPECT_EQ(format.sampleRate, 44100);
    EXPECT_EQ(format.channelCount, 2u);
}

TEST_F(PulseEngineTest, DeliversWholeBuffersWithEachChannelApartOnTheAudioThread) {
    PulseEngine engine;
    const AudioFormat format = engine.inputFormat();
    std::mutex mutex;
    std::vector<float> left, right;
    std::vector<std::string> problems;
    engine.installTap(kBufferFrames, format, [&](const AudioBuffer& buffer) {
        char thread[16] = {};
        pthread_getname_np(pthread_self(), thread, sizeof thread);
        std::lock_guard lock(mutex);
        if (buffer.frameLength != kBufferFrames || buffer.channelCount != 2 ||
            buffer.sampleRate != 44100 || buffer.floatChannelData == nullptr ||
            std::string(thread) != "audio") {
            problems.push_back("buffer of " + std::to_string(buffer.frameLength) + " frames, " +
                               std::to_string(buffer.channelCount) + " channels on " + thread);
            return;
        }
        left.insert(left.end(), buffer.floatChannelData[0],
                    buffer.floatChannelData[0] + kBufferFrames);
        right.insert(right.end(), buffer.floatChannelData[1],
                     buffer.floatChannelData[1] + kBufferFrames);
    });
    engine.prepare();
    ASSERT_EQ(engine.start(), std::nullopt);
    ASSERT_TRUE(server_->waitUntilRecording(deadlineIn(10s)));

    // A ramp up on the left and down on the right, over a few buffers and a
    // remainder; eighths of a thousandth are exact in floats.
    constexpr std::size_t kRampFrames = 3 * kBufferFrames + 500;
    std::vector<float> ramp(kRampFrames * 2);
    for (std::size_t i = 0; i < kRampFrames; ++i) {
        ramp[2 * i] = float(i + 1) / 8192.0f;
        ramp[2 * i + 1] = -float(i + 1) / 8192.0f;
    }
    server_->play(ramp);
    server_->playSilence(0.3);  // pushes the ramp's last frames out in a full buffer
    ASSERT_TRUE(server_->waitUntilPlayed(deadlineIn(20s)));

    std::size_t start = 0;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        start =
            std::find_if(left.begin(), left.end(), [](float s) { return s != 0; }) - left.begin();
        return left.size() >= start + kRampFrames;
    })) << "the ramp did not arrive";
    std::lock_guard lock(mutex);
    EXPECT_TRUE(problems.empty()) << problems.front();
    for (std::size_t i = 0; i < kRampFrames; ++i) {
        ASSERT_EQ(left[start + i], float(i + 1) / 8192.0f) << "frame " << i;
        ASSERT_EQ(right[start + i], -float(i + 1) / 8192.0f) << "frame " << i;
    }
}

TEST_F(PulseEngineTest, RemoveTapWaitsForTheBlockAndEndsDelivery) {
    PulseEngine engine;
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    engine.installTap(kBufferFrames, engine.inputFormat(), [&](const AudioBuffer&) {
        inside = true;
        std::this_thread::sleep_for(50ms);
        ++calls;
        inside = false;
    });
    ASSERT_EQ(engine.start(), std::nullopt);
    ASSERT_TRUE(eventually([&] { return calls >= 1; }));
    // Remove it while the block runs: removal waits for the block to return.
    const auto deadline = deadlineIn(10s);
    while (!inside && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_TRUE(inside);

    engine.removeTap();
    EXPECT_FALSE(inside);
    const int callsAtRemoval = calls;
    server_->playSilence(0.3);  // audio keeps flowing into the stream
    ASSERT_TRUE(server_->waitUntilPlayed(deadlineIn(20s)));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls, callsAtRemoval);
    // The engine is left running: its destructor stops it.
}

TEST_F(PulseEngineTest, StopsTwiceAndStartsAgain) {
    PulseEngine engine;
    std::atomic<int> calls{0};
    engine.installTap(kBufferFrames, engine.inputFormat(), [&](const AudioBuffer&) { ++calls; });
    ASSERT_EQ(engine.start(), std::nullopt);
    ASSERT_TRUE(eventually([&] { return calls >= 1; }));

    engine.stop();
    const int callsAtStop = calls;
    engine.stop();
    EXPECT_EQ(calls, callsAtStop);  // the audio thread is gone

    ASSERT_EQ(engine.start(), std::nullopt);
    EXPECT_TRUE(eventually([&] { return calls > callsAtStop; }));
}

TEST_F(PulseEngineTest, MicrophoneAccessIsGrantedByAServerThatLetsUsIn) {
    std::promise<std::pair<bool, std::thread::id>> answer;
    AudioService().requestMicrophoneAccess([&](bool granted) {
        answer.set_value({granted, std::this_thread::get_id()});
    });
    const auto [granted, thread] = answer.get_future().get();
    EXPECT_TRUE(granted);
    EXPECT_NE(thread, std::this_thread::get_id());
}

// A TCP listener on the private server that wants a cookie we do not have.
TEST_F(PulseEngineTest, MicrophoneAccessIsDeniedByAServerThatRefusesUs) {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);
    const std::string port = std::to_string(ntohs(address.sin_port));
    const auto loaded = server_->runClient(
        {"/usr/bin/pactl", "load-module", "module-native-protocol-tcp", "port=" + port,
         "listen=127.0.0.1", "auth-anonymous=0", "auth-cookie-enabled=1",
         "auth-cookie=" + (server_->directory() / "server-cookie").string()});
    ASSERT_TRUE(loaded && loaded->status.code() == 0) << server_->daemonLog();

    const auto cookie = server_->directory() / "wrong-cookie";
    std::ofstream(cookie) << std::string(256, 'x');
    setenv("PULSE_COOKIE", cookie.c_str(), 1);
    setenv("PULSE_SERVER", ("tcp:127.0.0.1:" + port).c_str(), 1);
    std::promise<bool> answer;
    AudioService().requestMicrophoneAccess([&](bool granted) { answer.set_value(granted); });
    EXPECT_FALSE(answer.get_future().get());

    PulseEngine engine;
    EXPECT_EQ(engine.inputFormat().sampleRate, 0);
    const auto error = engine.start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, pa_strerror(PA_ERR_ACCESS));
    unsetenv("PULSE_COOKIE");
}

TEST(PulseEngineWithoutServerTest, HasNoInputAndSaysWhyItCannotStart) {
    char folder[] = "/tmp/scrivia-no-pulse.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("PULSE_SERVER", ("unix:" + std::string(folder) + "/native").c_str(), 1);

    PulseEngine engine;
    const AudioFormat format = engine.inputFormat();
    EXPECT_EQ(format.sampleRate, 0);
    EXPECT_EQ(format.channelCount, 0u);
    engine.installTap(kBufferFrames, {16000, 1}, [](const AudioBuffer&) {});
    const auto error = engine.start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, pa_strerror(PA_ERR_CONNECTIONREFUSED));
    engine.stop();
    engine.stop();
    // Nobody to refuse us: the engine is the one to report the missing input.
    EXPECT_TRUE(probeMicrophoneAccess());
    rmdir(folder);
}

}  // namespace
}  // namespace scrivia::platform::linux_
