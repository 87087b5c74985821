// The services scrivia needs from the operating system. The core reaches the
// microphone, the recogniser, the run loop, the clock and the process only
// through these interfaces; each platform implements them in a folder of its
// own beneath this one (linux/), and the tests implement them in simulation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_buffer.h"

namespace scrivia::platform {

// Seconds on a monotonic clock. Only differences of two instants mean anything.
using Instant = double;

// A platform error; `description` is a readable sentence, in whatever language
// the platform gives it.
struct Error {
    std::string description;
};

// ---------------------------------------------------------------------------
// Audio input
// ---------------------------------------------------------------------------

struct AudioFormat {
    double sampleRate = 0;  // hertz; 0 (or less, or NaN) means no usable input
    std::uint32_t channelCount = 0;
};

// One captured buffer, valid only for the duration of the call it is passed to.
// Samples are non-interleaved 32-bit floats: channels[c][frame].
using AudioBuffer = audio::AudioBuffer;

// Called on the audio thread, one buffer at a time, never on the main thread.
using TapBlock = std::function<void(const AudioBuffer&)>;

class AudioEngine {
  public:
    virtual ~AudioEngine() = default;
    // The microphone's format (bus 0 of the input).
    virtual AudioFormat inputFormat() = 0;
    // Buffers of about `bufferSize` frames in `format` reach `block` once started.
    virtual void installTap(std::uint32_t bufferSize, AudioFormat format, TapBlock block) = 0;
    // After it returns, `block` is not running and is never called again.
    virtual void removeTap() = 0;
    virtual void prepare() = 0;
    // Runs the engine, or returns why it could not.
    virtual std::optional<Error> start() = 0;
    virtual void stop() = 0;
    // `handler` runs once, on a thread other than the main thread, if the
    // running engine stops by itself for good (the microphone was lost and
    // could not be recovered); never after `stop` has returned. Set before `start`.
    virtual void setStoppedHandler(std::function<void(Error)> handler) = 0;
};

class AudioService {
  public:
    virtual ~AudioService() = default;
    // An idle engine on the default microphone.
    virtual std::unique_ptr<AudioEngine> makeEngine() = 0;
    // `handler` runs once, on a thread other than the main thread, with
    // whether the microphone may be used.
    virtual void requestMicrophoneAccess(std::function<void(bool granted)> handler) = 0;
};

// ---------------------------------------------------------------------------
// Speech recognition
// ---------------------------------------------------------------------------

enum class TaskHint { unspecified = 0, dictation = 1, search = 2, confirmation = 3 };

// What a recognition request asks of the recogniser. Unset optionals leave the
// service's own default.
struct RequestSettings {
    bool shouldReportPartialResults = false;
    TaskHint taskHint = TaskHint::unspecified;
    std::optional<bool> requiresOnDeviceRecognition;
    std::optional<bool> addsPunctuation;
    // A person's own words and names, as they are written, for a recogniser
    // that takes such strings with each request.
    std::vector<std::string> contextualStrings;
};

// An audio-buffer recognition request. Requests are told apart by object
// identity. Settings are written on the main thread before the task opens.
class RecognitionRequest {
  public:
    virtual ~RecognitionRequest() = default;
    RequestSettings settings;
    // Queues one buffer for recognition. Called on the audio thread; never
    // waits for recognition. Audio appended before the task opens is kept.
    virtual void append(const AudioBuffer& buffer) = 0;
    // No more audio will come; the task goes on to deliver a last result or an
    // error for what it has. Main thread.
    virtual void endAudio() = 0;
};

struct RecognitionResult {
    std::string text;  // the best transcription so far, as one string
    bool isFinal = false;
};

// Called on the main thread, one call at a time, in order; zero or more times
// per task, with an optional result and an optional error.
using ResultHandler =
    std::function<void(std::optional<RecognitionResult> result, std::optional<Error> error)>;

class RecognitionTask {
  public:
    virtual ~RecognitionTask() = default;
    // The task stops delivering work.
    virtual void cancel() = 0;
};

class SpeechRecognizer {
  public:
    virtual ~SpeechRecognizer() = default;
    // The recogniser's locale identifier, in the platform's form (en_US).
    virtual std::string localeIdentifier() = 0;
    // Whether it recognises without the network.
    virtual bool supportsOnDeviceRecognition() = 0;
    // Whether it can take work now.
    virtual bool isAvailable() = 0;
    // Opens a task that recognises `request`; the handler keeps the request.
    virtual std::shared_ptr<RecognitionTask> recognitionTask(
        std::shared_ptr<RecognitionRequest> request, ResultHandler handler) = 0;
};

// A person's own word or name, from the file the host names: written as it
// should appear ("PostgreSQL"), and, when the spelling does not tell how it
// is said, how it is said in ordinary words ("post gres q l"; else empty).
struct WordEntry {
    std::string written;
    std::string spoken;
};

// Authorisation status: 0 not determined, 1 denied, 2 restricted, 3 authorised.
using AuthorizationStatus = std::int64_t;

class SpeechService {
  public:
    virtual ~SpeechService() = default;
    // The identifiers of every locale the service recognises, unordered.
    virtual std::vector<std::string> supportedLocales() = 0;
    // A recogniser for `identifier` as given, or null when it is not served.
    virtual std::shared_ptr<SpeechRecognizer> recognizer(const std::string& identifier) = 0;
    // `handler` runs once, on a thread other than the main thread.
    virtual void requestAuthorization(std::function<void(AuthorizationStatus)> handler) = 0;
    // A new, empty audio-buffer request.
    virtual std::shared_ptr<RecognitionRequest> makeRequest() = 0;
    // Whether requests honour `RequestSettings::addsPunctuation`; when false
    // the setting is never written.
    virtual bool canSetPunctuation() = 0;
    // A person's own words, for the recognisers made after this call: a
    // service that knows no pronunciations ignores them.
    virtual void useOwnWords(std::vector<WordEntry> /*words*/) {}
};

// ---------------------------------------------------------------------------
// Process-level services
// ---------------------------------------------------------------------------

// The main thread's loop. Tasks run one at a time on the thread that runs the
// loop, in submission order; delays are measured on the monotonic clock.
class RunLoop {
  public:
    virtual ~RunLoop() = default;
    // Any thread.
    virtual void post(std::function<void()> task) = 0;
    // Any thread; `task` runs once, no earlier than `seconds` from now.
    virtual void postAfter(double seconds, std::function<void()> task) = 0;
    // Main thread; `block` runs every `interval` seconds, first one interval
    // from now, for as long as the loop runs.
    virtual void scheduleRepeating(double interval, std::function<void()> block) = 0;
    // Runs the loop on the calling thread until `quit`; returns its status.
    virtual int run() = 0;
    // Any thread: the loop runs no further task and `run` returns `status`.
    // The first call wins.
    virtual void quit(int status) = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic seconds; callable from any thread.
    virtual Instant now() = 0;
};

// The host's end of standard output: where event lines go.
class Output {
  public:
    virtual ~Output() = default;
    // Any thread; NEVER waits for the host. Lines go out whole and in the
    // order they were given. A `droppable` line is left out when earlier lines
    // are still waiting for the host to read them.
    virtual void write(std::string line, bool droppable) = 0;
    // `handler` runs once, on a thread other than the main thread, when the
    // host can no longer be written to (it closed its end). Set before writing.
    virtual void setClosedHandler(std::function<void()> handler) = 0;
};

class Process {
  public:
    virtual ~Process() = default;
    // The user's locale identifier in the platform's form (fr_FR).
    virtual std::string currentLocaleIdentifier() = 0;
    // Where events are written, and where control lines are read.
    virtual Output& standardOutput() = 0;
    virtual int standardInput() = 0;
    // Runs `work` on a background thread of its own named `name`.
    virtual void runInBackground(const std::string& name, std::function<void()> work) = 0;
    // `handler` runs on the main thread each time the user or the system asks
    // the process to end (SIGINT, SIGTERM, SIGHUP on Linux).
    virtual void onTerminationRequest(std::function<void()> handler) = 0;
    // The bytes of the regular file at `path`, or none when it is anything
    // else (a FIFO or a device: never waits for one), cannot be read, or holds
    // more than `maxBytes`.
    virtual std::optional<std::string> readUserFile(const std::string& path,
                                                    std::size_t maxBytes) = 0;
};

// Everything one run of the program reaches of its platform.
struct Platform {
    SpeechService& speech;
    AudioService& audio;
    RunLoop& runLoop;
    Clock& clock;
    Process& process;
};

}  // namespace scrivia::platform
