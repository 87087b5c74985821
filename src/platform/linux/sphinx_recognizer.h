// Speech recognition on the device with PocketSphinx: requests that queue
// audio, and a recogniser that decodes them on a worker thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace scrivia::platform::linux_ {

// The three parts of a PocketSphinx model.
struct ModelFiles {
    std::string acousticModel;  // folder holding mdef, means, variances...
    std::string languageModel;  // n-gram model, binary (.lm.bin) or ARPA (.lm)
    std::string dictionary;     // pronunciation dictionary
};

// Why the model in `files` cannot be loaded, or nothing when it looks usable.
// Looks only at presence, permissions and file headers: PocketSphinx ends the
// whole process on some malformed acoustic models, so those are turned away
// before it sees them.
std::optional<std::string> problemWithModel(const ModelFiles& files);

// PocketSphinx logs to stderr unless told otherwise, and scrivia's stderr must
// stay empty. Call before any other PocketSphinx function; idempotent.
void silenceSphinxLogging();

struct WorkerState;

// Mono samples of one appended buffer, at the rate they were captured.
struct AudioChunk {
    std::vector<float> samples;
    double sampleRate = 0;
};

// An audio-buffer request. The audio thread appends, the main thread ends,
// and the recognition worker takes what has arrived so far.
class SphinxRequest final : public RecognitionRequest {
  public:
    void append(const AudioBuffer& buffer) override;
    void endAudio() override;

    // Everything appended since the last call, and whether audio has ended.
    struct Pending {
        std::vector<AudioChunk> chunks;
        bool ended = false;
    };
    Pending take();
    // Binds the request to the worker that decodes it, which is woken when
    // audio arrives. False when the request already has a task.
    bool attach(std::weak_ptr<WorkerState> worker);
    // Drops queued audio and ignores any that comes later.
    void discard();

  private:
    std::mutex mutex_;
    std::vector<AudioChunk> chunks_;
    bool ended_ = false;
    bool discarded_ = false;
    bool attached_ = false;
    std::weak_ptr<WorkerState> worker_;
};

class SphinxRecognizer final : public SpeechRecognizer {
  public:
    SphinxRecognizer(platform::RunLoop& mainLoop, std::string localeIdentifier, ModelFiles files);
    ~SphinxRecognizer() override;
    SphinxRecognizer(const SphinxRecognizer&) = delete;
    SphinxRecognizer& operator=(const SphinxRecognizer&) = delete;

    std::string localeIdentifier() override;
    bool supportsOnDeviceRecognition() override;
    bool isAvailable() override;
    std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     ResultHandler handler) override;

    // Starts loading the model if nothing has, and blocks until the load is
    // over; true when the model is ready. For tests and benchmarks.
    bool waitUntilLoaded();

  private:
    void startLoading();
    void work();

    platform::RunLoop& mainLoop_;
    const std::string localeIdentifier_;
    const ModelFiles files_;
    std::shared_ptr<WorkerState> state_;
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};

}  // namespace scrivia::platform::linux_
