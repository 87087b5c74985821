#include "platform/linux/audio/pulse_engine.h"

#include <pulse/pulseaudio.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/linux/audio/pulse_connection.h"

namespace scrivia::platform::linux_ {

class SCRIVIA_SCOPED_CAPABILITY PulseEngine::Lock {
  public:
    // Without a loop there is no audio thread to share with.
    explicit Lock(PulseEngine& engine) SCRIVIA_ACQUIRE(engine.loopLock_)
        : mainloop_(engine.mainloop_) {
        if (mainloop_ != nullptr) pa_threaded_mainloop_lock(mainloop_);
    }
    ~Lock() SCRIVIA_RELEASE() {
        if (mainloop_ != nullptr) pa_threaded_mainloop_unlock(mainloop_);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    pa_threaded_mainloop* mainloop_;
};

PulseEngine::~PulseEngine() {
    stop();
}

void PulseEngine::signalLoop(void* engine) {
    pa_threaded_mainloop_signal(static_cast<PulseEngine*>(engine)->mainloop_, 0);
}

PulseWaiting PulseEngine::waiting() {
    return PulseWaiting{pa_threaded_mainloop_get_api(mainloop_),
                        [this] {
                            pa_threaded_mainloop_wait(mainloop_);
                            return true;
                        },
                        [this] { signalLoop(this); }};
}

bool PulseEngine::waitUntil(const std::function<bool()>& done) {
    return waitForServer(context_, waiting(), done);
}

Error PulseEngine::contextError() const {
    return Error{pa_strerror(context_ != nullptr ? pa_context_errno(context_) : PA_ERR_INTERNAL)};
}

std::optional<Error> PulseEngine::connect() {
    if (mainloop_ == nullptr) {
        mainloop_ = pa_threaded_mainloop_new();
        if (mainloop_ == nullptr) return Error{pa_strerror(PA_ERR_INTERNAL)};
        pa_threaded_mainloop_set_name(mainloop_, "audio");
        // libpulse sets up its per-thread state once per process, on whichever
        // thread comes first, with atomics ThreadSanitizer cannot see. Let the
        // audio thread finish that before this thread takes the loop's lock.
        struct Started {
            std::mutex mutex;
            std::condition_variable changed;
            bool running = false;
        } started;
        pa_mainloop_api_once(
            pa_threaded_mainloop_get_api(mainloop_),
            [](pa_mainloop_api*, void* data) {
                auto& started = *static_cast<Started*>(data);
                std::lock_guard lock(started.mutex);
                started.running = true;
                started.changed.notify_one();
            },
            &started);
        if (pa_threaded_mainloop_start(mainloop_) < 0) {
            pa_threaded_mainloop_free(mainloop_);
            mainloop_ = nullptr;
            return Error{pa_strerror(PA_ERR_INTERNAL)};
        }
        std::unique_lock lock(started.mutex);
        started.changed.wait(lock, [&] { return started.running; });
    }
    Lock lock(*this);
    if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        return std::nullopt;
    }
    releaseContext();  // one that failed earlier, or that the server dropped
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), kPulseClientName);
    if (context_ == nullptr) return Error{pa_strerror(PA_ERR_INTERNAL)};
    pa_context_set_state_callback(context_, onContextState, this);
    const int result = connectToServer(context_, waiting());
    if (result == PA_OK) return std::nullopt;
    releaseContext();
    return Error{pa_strerror(result)};
}

AudioFormat PulseEngine::inputFormat() {
    if (connect()) return {};
    Lock lock(*this);

    struct Query {
        PulseEngine* engine;
        std::string defaultSource;
        std::optional<pa_sample_spec> spec;
        bool done = false;
    } query{this, {}, std::nullopt};
    // Waits for the reply; an operation the server dropped ends the wait too.
    const auto finish = [this](pa_operation* operation, Query& query) SCRIVIA_REQUIRES(loopLock_) {
        if (operation == nullptr) return false;
        waitUntil([&] {
            return query.done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING;
        });
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
        const bool completed = query.done;
        query.done = false;
        return completed;
    };

    pa_operation* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto& query = *static_cast<Query*>(data);
            if (info != nullptr && info->default_source_name != nullptr) {
                query.defaultSource = info->default_source_name;
            }
            query.done = true;
            signalLoop(query.engine);
        },
        &query);
    if (!finish(operation, query) || query.defaultSource.empty()) return {};

    operation = pa_context_get_source_info_by_name(
        context_, query.defaultSource.c_str(),
        [](pa_context*, const pa_source_info* info, int last, void* data) {
            auto& query = *static_cast<Query*>(data);
            if (last == 0 && info != nullptr) query.spec = info->sample_spec;
            if (last != 0) {
                query.done = true;
                signalLoop(query.engine);
            }
        },
        &query);
    if (!finish(operation, query) || !query.spec) return {};
    return AudioFormat{static_cast<double>(query.spec->rate), query.spec->channels};
}

void PulseEngine::installTap(std::uint32_t bufferSize, AudioFormat format, TapBlock block) {
    Lock lock(*this);
    bufferSize_ = bufferSize;
    tapFormat_ = format;
    block_ = std::move(block);
    if (stream_ != nullptr) resetStorage();
}

void PulseEngine::setStoppedHandler(std::function<void(Error)> handler) {
    Lock lock(*this);
    stoppedHandler_ = std::move(handler);
}

void PulseEngine::removeTap() {
    // The read callback runs under this lock, so once we hold it the block is
    // not running, and with it gone it is never called again.
    Lock lock(*this);
    block_ = nullptr;
}

void PulseEngine::prepare() {
    // Nothing to do ahead: inputFormat has connected already, and a stream
    // made before start would have the server queue audio nobody reads.
}

std::optional<Error> PulseEngine::start() {
    {
        Lock lock(*this);
        if (running_) return std::nullopt;
        releaseStream();  // one the server ended
    }
    const AudioFormat format = [this] {
        Lock lock(*this);
        return tapFormat_;
    }();
    const AudioFormat chosen =
        format.sampleRate > 0 && format.channelCount > 0 ? format : inputFormat();
    if (auto error = connect()) return error;
    if (chosen.channelCount == 0 || chosen.channelCount > PA_CHANNELS_MAX ||
        !(chosen.sampleRate >= 1 && chosen.sampleRate <= PA_RATE_MAX)) {
        return Error{pa_strerror(PA_ERR_NOTSUPPORTED)};
    }

    Lock lock(*this);
    streamRate_ = static_cast<double>(std::lround(chosen.sampleRate));
    streamChannels_ = chosen.channelCount;
    if (!openStream(nullptr)) return contextError();
    // Nothing replaces the stream while start waits: recovery runs only once it has started.
    const bool settled = waitUntil([stream = stream_] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (settled && pa_stream_get_state(stream_) == PA_STREAM_READY) {
        const char* source = pa_stream_get_device_name(stream_);
        chosenSource_ = source != nullptr ? source : "";
        const char* named = std::getenv("PULSE_SOURCE");
        wanted_ = named != nullptr && *named != 0 ? named : "@DEFAULT_SOURCE@";
        running_ = true;
        return std::nullopt;
    }
    Error error = settled ? contextError() : Error{pa_strerror(PA_ERR_TIMEOUT)};
    releaseStream();
    return error;
}

bool PulseEngine::openStream(const char* source) {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = static_cast<std::uint32_t>(streamRate_);
    spec.channels = static_cast<std::uint8_t>(streamChannels_);
    stream_ = pa_stream_new(context_, "dictation", &spec, nullptr);
    if (stream_ == nullptr) return false;
    resetStorage();
    pa_stream_set_state_callback(stream_, onStreamState, this);
    pa_stream_set_read_callback(stream_, onStreamRead, this);
    pa_stream_set_moved_callback(stream_, onStreamMoved, this);

    // Ask for fragments of about one tap buffer; left to itself the server may
    // hand over seconds at once, and levels and partial results would come in bursts.
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = bufferSize_ > 0
                              ? static_cast<std::uint32_t>(bufferSize_ * pa_frame_size(&spec))
                              : static_cast<std::uint32_t>(-1);
    if (pa_stream_connect_record(stream_, source, &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
        releaseStream();
        return false;
    }
    return true;
}

void PulseEngine::stop() {
    if (mainloop_ == nullptr) return;
    {
        Lock lock(*this);
        running_ = false;
        if (retryTick_ != nullptr) pa_threaded_mainloop_get_api(mainloop_)->time_free(retryTick_);
        retryTick_ = nullptr;
        releaseStream();
        releaseContext();
    }
    pa_threaded_mainloop_stop(mainloop_);  // joins the audio thread
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
}

void PulseEngine::releaseStream() {
    if (stream_ == nullptr) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseEngine::releaseContext() {
    releaseStream();
    if (context_ == nullptr) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

}  // namespace scrivia::platform::linux_
