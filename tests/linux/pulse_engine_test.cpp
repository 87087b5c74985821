// The PulseAudio engine and microphone access, against the private server of
// scripts/private-pulse.sh (never the machine's own sound server).
#include "platform/linux/audio/pulse_engine.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <mutex>

#include "platform/linux/audio/microphone.h"
#include "support/private_pulse.h"

namespace scrivia::platform::linux_ {
namespace {

using namespace scrivia::testing;

constexpr std::uint32_t kFrames = 2048;

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds within = 10s) {
    const auto deadline = SteadyClock::now() + within;
    while (!done() && SteadyClock::now() < deadline) std::this_thread::sleep_for(1ms);
    return done();
}

bool askAccess() {
    std::promise<bool> answer;
    AudioService().requestMicrophoneAccess([&](bool granted) { answer.set_value(granted); });
    return answer.get_future().get();
}

// One engine through a whole life on one private server: exact samples, a
// tap let go of, a server restarted and one gone; then a server that refuses us.
TEST(PulseEngine, DeliversExactSamplesLetsGoOfItsTapRecoversAndIsRefusedOnlyWhenRefused) {
    PrivatePulse server;
    for (const std::string& variable : server.clientEnvironment()) {  // only the private server
        const auto equals = variable.find('=');
        setenv(variable.substr(0, equals).c_str(), variable.c_str() + equals + 1, 1);
    }
    PulseEngine engine;
    ASSERT_EQ(engine.inputFormat().sampleRate, 16000);
    ASSERT_EQ(engine.inputFormat().channelCount, 1u);
    std::mutex mutex;
    std::vector<float> heard;  // the left channel, or -1 where the right one differs
    std::atomic<int> calls{0}, oddBuffers{0}, stopped{0};
    std::atomic<bool> slow{false}, inside{false};
    // Two channels from the mono source: the server copies it to both.
    const TapBlock tap = [&, main = std::this_thread::get_id()](const AudioBuffer& buffer) {
        inside = true;
        if (slow) std::this_thread::sleep_for(50ms);
        const float* const* channel = buffer.floatChannelData;
        std::lock_guard lock(mutex);
        if (buffer.frameLength != kFrames || buffer.channelCount != 2 ||
            buffer.sampleRate != 16000 || std::this_thread::get_id() == main)
            ++oddBuffers;
        else
            for (std::uint32_t f = 0; f < kFrames; ++f)
                heard.push_back(channel[0][f] == channel[1][f] ? channel[0][f] : -1);
        ++calls, inside = false;
    };
    engine.installTap(kFrames, {16000, 2}, tap);
    engine.setStoppedHandler([&](Error error) { stopped += error.description.empty() ? 100 : 1; });
    ASSERT_EQ(engine.start(), std::nullopt);
    ASSERT_TRUE(server.recording());
    // A ramp over a few buffers and a remainder, then silence that pushes its
    // last frames out; 16-bit samples are exact in floats.
    std::vector<std::int16_t> ramp(3 * kFrames + 500 + 4800);
    std::vector<float> want(3 * kFrames + 500);
    for (std::size_t i = 0; i < want.size(); ++i)
        ramp[i] = std::int16_t(4 * (i + 1)), want[i] = float(i + 1) / 8192;
    std::ofstream(server.directory() / "mic.fifo", std::ios::binary)
        .write(reinterpret_cast<const char*>(ramp.data()), std::streamsize(ramp.size() * 2));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return std::search(heard.begin(), heard.end(), want.begin(), want.end()) != heard.end();
    })) << "the ramp did not arrive whole";
    // Removing the tap waits for a running block, and no call comes after.
    auto feeder = server.feed();
    slow = true;
    ASSERT_TRUE(eventually([&] { return bool(inside); }));
    engine.removeTap();
    EXPECT_FALSE(inside);
    int before = calls;
    std::this_thread::sleep_for(300ms);  // two buffers' worth, had the tap stayed
    EXPECT_EQ(calls, before);
    engine.installTap(kFrames, {16000, 2}, tap);
    ASSERT_TRUE(eventually([&] { return calls > before; }));
    // A server that comes back at once is recorded again with no word to the
    // core; one that stays gone is reported, once, after the engine gave up.
    ASSERT_TRUE(server.kill());
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(server.restart());
    feeder = server.feed();
    before = calls;
    EXPECT_TRUE(eventually([&] { return calls > before + 5; })) << "no buffers after the restart";
    EXPECT_EQ(stopped, 0);
    ASSERT_TRUE(server.kill());
    const auto lost = SteadyClock::now();
    EXPECT_TRUE(eventually([&] { return stopped > 0; }));
    EXPECT_GT(SteadyClock::now() - lost, 2.5s) << "gave up without trying for long";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(stopped, 1);
    engine.stop();
    EXPECT_EQ(oddBuffers, 0);

    // A TCP listener on the same server that wants a cookie we do not have.
    ASSERT_TRUE(server.restart());
    EXPECT_TRUE(askAccess());
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);
    const std::string port = std::to_string(ntohs(address.sin_port));
    ASSERT_TRUE(server.pactl({"load-module", "module-native-protocol-tcp", "port=" + port,
                              "listen=127.0.0.1", "auth-anonymous=0",
                              "auth-cookie=" + (server.directory() / "cookie").string()}));
    std::ofstream(server.directory() / "wrong-cookie") << std::string(256, 'x');
    setenv("PULSE_COOKIE", (server.directory() / "wrong-cookie").c_str(), 1);
    setenv("PULSE_SERVER", ("tcp:127.0.0.1:" + port).c_str(), 1);
    EXPECT_FALSE(askAccess());
    auto error = PulseEngine().start();
    EXPECT_EQ(error ? error->description : "", pa_strerror(PA_ERR_ACCESS));
}

}  // namespace
}  // namespace scrivia::platform::linux_
