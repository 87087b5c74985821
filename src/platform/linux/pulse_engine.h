// The microphone through PulseAudio: a record stream on the default source,
// read on libpulse's own thread ("audio") and handed to the tap in buffers of
// exactly the tap's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace scrivia::platform::linux_ {

struct PulseWaiting;

class PulseEngine final : public platform::AudioEngine {
  public:
    PulseEngine() = default;
    ~PulseEngine() override;
    PulseEngine(const PulseEngine&) = delete;
    PulseEngine& operator=(const PulseEngine&) = delete;

    // The default source's own rate and channel count, read from the server;
    // {0, 0} when there is no server or no default source.
    AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, AudioFormat format, TapBlock block) override;
    void removeTap() override;
    void prepare() override;
    std::optional<Error> start() override;
    // Ends the stream, leaves the server and joins the audio thread.
    void stop() override;
    void setStoppedHandler(std::function<void(Error)> handler) override;

  private:
    // Holds libpulse's lock for a scope, when there is a loop to lock.
    class Lock;

    // Connects if not connected, starting the audio thread; returns why not.
    std::optional<Error> connect();
    // How this engine's loop waits, with the lock held, for news from the server.
    PulseWaiting waiting();
    // Waits, with the lock held, until `done` or the server timeout; true if done.
    bool waitUntil(const std::function<bool()>& done);
    // The server's description of the context's last error.
    Error contextError() const;
    void releaseStream();
    void releaseContext();
    // Sizes the tap storage for the stream's channels. Lock held.
    void resetStorage();
    // Takes `size` bytes of interleaved float samples (null: a hole, taken as
    // silence), delivering each full buffer. Audio thread, lock held.
    void consume(const std::uint8_t* bytes, std::size_t size);
    void appendFrame(const std::uint8_t* frame);

    static void signalLoop(void* engine);
    static void onStreamRead(pa_stream* stream, std::size_t size, void* engine);

    // Touched only by the thread that owns the engine.
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;

    // Shared with the audio thread: guarded by libpulse's lock while mainloop_ exists.
    TapBlock block_;
    std::function<void(Error)> stoppedHandler_;
    std::uint32_t bufferSize_ = 0;
    AudioFormat tapFormat_;
    std::uint32_t streamChannels_ = 0;
    double streamRate_ = 0;
    std::vector<float> samples_;              // channel c at [c * bufferSize_]
    std::vector<float*> channelStarts_;       // into samples_
    std::uint32_t filled_ = 0;                // frames of samples_ filled so far
    std::vector<std::uint8_t> partialFrame_;  // a frame split across fragments
    std::size_t partialBytes_ = 0;
};

}  // namespace scrivia::platform::linux_
