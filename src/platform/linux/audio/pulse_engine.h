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

#include "audio/frame_assembler.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::platform::linux_ {

struct PulseWaiting;

// libpulse's own lock on its loop, as a capability: the audio thread holds it
// whenever libpulse calls back, and the owner takes it through PulseEngine::Lock.
class SCRIVIA_CAPABILITY("libpulse's lock") PulseLoopLock {
  public:
    // In a callback of libpulse's, which runs with the lock held.
    void assertHeld() const SCRIVIA_ASSERT_CAPABILITY(this) {}
};

class PulseEngine final : public platform::AudioEngine {
  public:
    PulseEngine() = default;
    ~PulseEngine() override;
    PulseEngine(const PulseEngine&) = delete;
    PulseEngine& operator=(const PulseEngine&) = delete;

    // The default source's own rate and channel count, read from the server;
    // {0, 0} when there is no server or no default source.
    AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, AudioFormat format, TapBlock block) override
        SCRIVIA_EXCLUDES(loopLock_);
    void removeTap() override SCRIVIA_EXCLUDES(loopLock_);
    void prepare() override;
    std::optional<Error> start() override SCRIVIA_EXCLUDES(loopLock_);
    // Ends the stream, leaves the server and joins the audio thread.
    void stop() override SCRIVIA_EXCLUDES(loopLock_);
    void setStoppedHandler(std::function<void(Error)> handler) override SCRIVIA_EXCLUDES(loopLock_);

  private:
    // Holds libpulse's lock for a scope, when there is a loop to lock.
    class Lock;

    // Connects if not connected, starting the audio thread; returns why not.
    std::optional<Error> connect() SCRIVIA_EXCLUDES(loopLock_);
    // How this engine's loop waits, with the lock held, for news from the server.
    PulseWaiting waiting() SCRIVIA_REQUIRES(loopLock_);
    // Waits, with the lock held, until `done` or the server timeout; true if done.
    bool waitUntil(const std::function<bool()>& done) SCRIVIA_REQUIRES(loopLock_);
    // The server's description of the context's last error.
    Error contextError() const SCRIVIA_REQUIRES(loopLock_);
    // Makes a record stream on `source` (null: the default) and asks the
    // server for it, without waiting; false if it could not even ask.
    bool openStream(const char* source) SCRIVIA_REQUIRES(loopLock_);
    void releaseStream() SCRIVIA_REQUIRES(loopLock_);
    void releaseContext() SCRIVIA_REQUIRES(loopLock_);
    // Recovery, all on the audio thread. `lose` starts it (or lets the next
    // tick try again); each tick takes one step, until a new stream is ready
    // or the time is up.
    void lose(Error why) SCRIVIA_REQUIRES(loopLock_);
    void attempt() SCRIVIA_REQUIRES(loopLock_);
    void giveUp() SCRIVIA_REQUIRES(loopLock_);
    static void onRetryTick(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                            void* engine);
    static void onContextState(pa_context* context, void* engine);
    static void onStreamState(pa_stream* stream, void* engine);
    static void onStreamMoved(pa_stream* stream, void* engine);
    static void onSourceInfo(pa_context*, const pa_source_info* info, int last, void* engine);
    // Sizes the tap storage for the stream's channels.
    void resetStorage() SCRIVIA_REQUIRES(loopLock_);

    static void signalLoop(void* engine);
    static void onStreamRead(pa_stream* stream, std::size_t size, void* engine);

    // Touched only by the thread that owns the engine.
    pa_threaded_mainloop* mainloop_ = nullptr;

    // Shared with the audio thread: guarded by libpulse's lock while mainloop_ exists.
    PulseLoopLock loopLock_;
    pa_context* context_ SCRIVIA_GUARDED_BY(loopLock_) = nullptr;
    pa_stream* stream_ SCRIVIA_GUARDED_BY(loopLock_) = nullptr;
    // From a successful start until stop or giving up.
    bool running_ SCRIVIA_GUARDED_BY(loopLock_) = false;
    // What recovery records: PULSE_SOURCE, or the default.
    std::string wanted_ SCRIVIA_GUARDED_BY(loopLock_);
    // The source start got: a monitor there was asked for.
    std::string chosenSource_ SCRIVIA_GUARDED_BY(loopLock_);
    pa_time_event* retryTick_ SCRIVIA_GUARDED_BY(loopLock_) = nullptr;  // set while recovering
    pa_usec_t giveUpAt_ SCRIVIA_GUARDED_BY(loopLock_) = 0;
    bool attempting_ SCRIVIA_GUARDED_BY(loopLock_) =
        false;                                  // a new context or stream is on its way
    Error lost_ SCRIVIA_GUARDED_BY(loopLock_);  // why the microphone was first lost
    TapBlock block_ SCRIVIA_GUARDED_BY(loopLock_);
    std::function<void(Error)> stoppedHandler_ SCRIVIA_GUARDED_BY(loopLock_);
    std::uint32_t bufferSize_ SCRIVIA_GUARDED_BY(loopLock_) = 0;
    AudioFormat tapFormat_ SCRIVIA_GUARDED_BY(loopLock_);
    std::uint32_t streamChannels_ SCRIVIA_GUARDED_BY(loopLock_) = 0;
    double streamRate_ SCRIVIA_GUARDED_BY(loopLock_) = 0;
    // The tap's buffers from the stream's fragments.
    std::optional<audio::FrameAssembler> frames_ SCRIVIA_GUARDED_BY(loopLock_);
};

}  // namespace scrivia::platform::linux_
