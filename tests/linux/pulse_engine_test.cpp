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
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include "platform/linux/microphone.h"
#include "support/private_pulse.h"

namespace scrivia::platform::linux_ {
namespace {

using testing::PrivatePulse;
using testing::SteadyClock;
using namespace std::chrono_literals;

constexpr std::uint32_t kFrames = 2048;
const auto in10s = [] { return SteadyClock::now() + 10s; };

bool eventually(const std::function<bool()>& done) {
    for (const auto deadline = in10s(); !done(); std::this_thread::sleep_for(1ms)) {
        if (SteadyClock::now() > deadline) return false;
    }
    return true;
}

class PulseEngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<PrivatePulse>(44100, 2); }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server_) << "the private server did not start";
        // libpulse here reaches only the private server, and keeps its cookie
        // and configuration in the server's folder.
        setenv("PULSE_SERVER", server_->serverAddress().c_str(), 1);
        setenv("HOME", server_->directory().c_str(), 1);
        server_->clear();
    }

    static inline std::unique_ptr<PrivatePulse> server_;
};

TEST_F(PulseEngineTest, DeliversWholeBuffersOfTheSourcesFormatWithEachChannelApart) {
    PulseEngine engine;
    const AudioFormat format = engine.inputFormat();
    ASSERT_EQ(format.sampleRate, 44100);
    ASSERT_EQ(format.channelCount, 2u);
    std::mutex mutex;
    std::vector<float> left, right;
    int oddBuffers = 0;
    engine.installTap(kFrames, format, [&](const AudioBuffer& buffer) {
        char thread[16] = {};
        pthread_getname_np(pthread_self(), thread, sizeof thread);
        std::lock_guard lock(mutex);
        if (buffer.frameLength != kFrames || buffer.channelCount != 2 ||
            buffer.sampleRate != 44100 || std::string(thread) != "audio") {
            ++oddBuffers;
            return;
        }
        left.insert(left.end(), buffer.floatChannelData[0], buffer.floatChannelData[0] + kFrames);
        right.insert(right.end(), buffer.floatChannelData[1], buffer.floatChannelData[1] + kFrames);
    });
    engine.prepare();
    ASSERT_EQ(engine.start(), std::nullopt);
    ASSERT_TRUE(server_->waitUntilRecording(in10s()));

    // Up on the left, down on the right, over a few buffers and a remainder;
    // multiples of 1/8192 are exact in floats.
    constexpr std::size_t kRampFrames = 3 * kFrames + 500;
    std::vector<float> ramp;
    for (std::size_t i = 1; i <= kRampFrames; ++i) {
        ramp.insert(ramp.end(), {float(i) / 8192, -float(i) / 8192});
    }
    server_->play(ramp);
    server_->playSilence(0.3);  // pushes the ramp's last frames out in a whole buffer
    std::size_t start = 0;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        start =
            std::find_if(left.begin(), left.end(), [](float s) { return s != 0; }) - left.begin();
        return left.size() >= start + kRampFrames;
    })) << "the ramp did not arrive";
    std::lock_guard lock(mutex);
    EXPECT_EQ(oddBuffers, 0);
    for (std::size_t i = 0; i < kRampFrames; ++i) {
        ASSERT_EQ(left[start + i], float(i + 1) / 8192) << "frame " << i;
        ASSERT_EQ(right[start + i], -float(i + 1) / 8192) << "frame " << i;
    }
}

TEST_F(PulseEngineTest, RemovingTheTapWaitsForTheBlockAndStopsAndRestartsSafely) {
    PulseEngine engine;
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    engine.installTap(kFrames, engine.inputFormat(), [&](const AudioBuffer&) {
        inside = true;
        std::this_thread::sleep_for(50ms);
        ++calls;
        inside = false;
    });
    ASSERT_EQ(engine.start(), std::nullopt);
    ASSERT_TRUE(eventually([&] { return calls >= 1 && inside; }));
    engine.removeTap();  // while the block runs
    EXPECT_FALSE(inside);
    const int callsAtRemoval = calls;
    std::this_thread::sleep_for(300ms);  // six buffers' worth, had the tap stayed
    EXPECT_EQ(calls, callsAtRemoval);

    engine.installTap(kFrames, engine.inputFormat(), [&](const AudioBuffer&) { ++calls; });
    ASSERT_TRUE(eventually([&] { return calls > callsAtRemoval; }));
    engine.stop();
    engine.stop();
    const int callsAtStop = calls;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(calls, callsAtStop);
    ASSERT_EQ(engine.start(), std::nullopt);
    EXPECT_TRUE(eventually([&] { return calls > callsAtStop; }));
    // Left running: the destructor stops it.
}

TEST_F(PulseEngineTest, MicrophoneAccessIsDeniedOnlyByAServerThatRefusesUs) {
    auto ask = [] {
        std::promise<bool> answer;
        AudioService().requestMicrophoneAccess([&](bool granted) { answer.set_value(granted); });
        return answer.get_future().get();
    };
    EXPECT_TRUE(ask());

    // A TCP listener on the same server that wants a cookie we do not have.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);
    const std::string port = std::to_string(ntohs(address.sin_port));
    ASSERT_TRUE(server_->runClient(
        {"/usr/bin/pactl", "load-module", "module-native-protocol-tcp", "port=" + port,
         "listen=127.0.0.1", "auth-anonymous=0", "auth-cookie-enabled=1",
         "auth-cookie=" + (server_->directory() / "server-cookie").string()}))
        << server_->daemonLog();
    const auto cookie = server_->directory() / "wrong-cookie";
    std::ofstream(cookie) << std::string(256, 'x');
    setenv("PULSE_COOKIE", cookie.c_str(), 1);
    setenv("PULSE_SERVER", ("tcp:127.0.0.1:" + port).c_str(), 1);

    EXPECT_FALSE(ask());
    const auto error = PulseEngine().start();
    EXPECT_EQ(error ? error->description : "", pa_strerror(PA_ERR_ACCESS));
}

TEST(PulseEngineWithoutServerTest, HasNoInputSaysWhyItCannotStartAndGrantsAccess) {
    char folder[] = "/tmp/scrivia-no-pulse.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("PULSE_SERVER", ("unix:" + std::string(folder) + "/native").c_str(), 1);
    PulseEngine engine;
    const AudioFormat format = engine.inputFormat();
    EXPECT_EQ(format.sampleRate, 0);
    EXPECT_EQ(format.channelCount, 0u);
    engine.installTap(kFrames, {16000, 1}, [](const AudioBuffer&) {});
    const auto error = engine.start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, pa_strerror(PA_ERR_CONNECTIONREFUSED));
    // Nobody to refuse us: the engine is the one to report the missing input.
    EXPECT_TRUE(probeMicrophoneAccess());
    rmdir(folder);
}

}  // namespace
}  // namespace scrivia::platform::linux_
