// The microphone through PulseAudio: a record stream on the default source,
// read on libpulse's own thread ("audio") and handed to the tap in buffers of
// exactly the tap's size. A stream or server lost while running is replaced
// from the default source for up to three seconds, and never by the monitor
// of a sound output unless that is what the user chose; then the stopped
// handler runs, ON THE AUDIO THREAD WITH LIBPULSE'S LOCK HELD: it must only
// post, never call back into the engine.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/audio/frame_assembler.h"
#include "platform/platform.h"

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
    // Makes a record stream on `source` (null: the default) and asks the
    // server for it, without waiting; false if it could not even ask. Lock held.
    bool openStream(const char* source);
    void releaseStream();
    void releaseContext();
    // Recovery, all on the audio thread with the lock held. `lose` starts it
    // (or lets the next tick try again); each tick takes one step, until a new
    // stream is ready or the time is up.
    void lose(Error why);
    void attempt();
    void giveUp();
    static void onRetryTick(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                            void* engine);
    static void onContextState(pa_context* context, void* engine);
    static void onStreamState(pa_stream* stream, void* engine);
    static void onStreamMoved(pa_stream* stream, void* engine);
    static void onSourceInfo(pa_context*, const pa_source_info* info, int last, void* engine);
    // Sizes the tap storage for the stream's channels. Lock held.
    void resetStorage();

    static void signalLoop(void* engine);
    static void onStreamRead(pa_stream* stream, std::size_t size, void* engine);

    // Touched only by the thread that owns the engine.
    pa_threaded_mainloop* mainloop_ = nullptr;

    // Shared with the audio thread: guarded by libpulse's lock while mainloop_ exists.
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool running_ = false;                // from a successful start until stop or giving up
    std::string wanted_;                  // what recovery records: PULSE_SOURCE, or the default
    std::string chosenSource_;            // the source start got: a monitor there was asked for
    pa_time_event* retryTick_ = nullptr;  // set while recovering
    pa_usec_t giveUpAt_ = 0;
    bool attempting_ = false;  // a new context or stream is on its way
    Error lost_;               // why the microphone was first lost
    TapBlock block_;
    std::function<void(Error)> stoppedHandler_;
    std::uint32_t bufferSize_ = 0;
    AudioFormat tapFormat_;
    std::uint32_t streamChannels_ = 0;
    double streamRate_ = 0;
    std::optional<FrameAssembler> frames_;  // the tap's buffers from the stream's fragments
};

}  // namespace scrivia::platform::linux_
