// Speech recognition on the device with PocketSphinx: a recogniser that
// decodes its tasks' requests, one after another in the order they were made,
// on a worker thread of its own ("recognition").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "formatting/formatter.h"
#include "platform/linux/speech/model_check.h"
#include "platform/linux/speech/model_files.h"
#include "platform/linux/speech/sample_converter.h"
#include "platform/linux/speech/sphinx_request.h"
#include "platform/linux/speech/utterance_decoder.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::platform::linux_ {

struct WorkerState;

// Made and used on the main thread. The model is loaded on the worker, when
// first asked for, so start-up does not wait for it; audio that comes
// meanwhile waits in its request.
class SphinxRecognizer final : public SpeechRecognizer {
  public:
    // With a `probe`, the model is trusted only once a probe process has
    // loaded it; without, only its files' headers are checked.
    SphinxRecognizer(platform::RunLoop& mainLoop, std::string localeIdentifier, ModelFiles files,
                     std::optional<ModelProbe> probe = std::nullopt, MarkCheckConfig check = {},
                     std::vector<WordEntry> ownWords = {});
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
    const ModelFiles& files() const { return files_; }

  private:
    void startLoading();
    WakeWorker waker() const;

    // The worker thread and what only it touches.
    void work() SCRIVIA_REQUIRES(platform::recognitionWorker);
    void load() SCRIVIA_REQUIRES(platform::recognitionWorker);
    // Decodes what `task` has received; true once the task is done with.
    bool serve(SphinxTask& task) SCRIVIA_REQUIRES(platform::recognitionWorker);
    // Decodes the converted samples, delivering a changed partial result.
    bool decode(SphinxTask& task) SCRIVIA_REQUIRES(platform::recognitionWorker);
    // Delivers `description` as the task's last word. Always true: the task is done with.
    bool fail(SphinxTask& task, std::string description)
        SCRIVIA_REQUIRES(platform::recognitionWorker);
    // The decoder's words as the task asked for them: punctuated or plain.
    std::string formatted(const SphinxTask& task, std::string_view words, formatting::TextKind kind)
        SCRIVIA_REQUIRES(platform::recognitionWorker);
    void closeUtterance() SCRIVIA_REQUIRES(platform::recognitionWorker);

    platform::RunLoop& mainLoop_;
    const std::string localeIdentifier_;
    const ModelFiles files_;
    const std::optional<ModelProbe> probe_;
    const MarkCheckConfig check_;
    const std::vector<WordEntry> ownWords_;  // heard, and written as spelled
    const std::shared_ptr<WorkerState> state_;
    std::thread worker_;

    std::unique_ptr<UtteranceDecoder> decoder_ SCRIVIA_GUARDED_BY(platform::recognitionWorker);
    std::optional<SampleConverter> converter_ SCRIVIA_GUARDED_BY(platform::recognitionWorker);
    // A chunk converted to what the search takes: 16-bit samples at its rate.
    std::vector<std::int16_t> samples_ SCRIVIA_GUARDED_BY(platform::recognitionWorker);
    // Made with the decoder.
    std::optional<formatting::Formatter>
        punctuated_ SCRIVIA_GUARDED_BY(platform::recognitionWorker), plain_
        SCRIVIA_GUARDED_BY(platform::recognitionWorker);
    // The last punctuated final left its sentence open ("Dear Anna,"): the
    // next segment goes on with it, in lower case.
    bool continuesSentence_ SCRIVIA_GUARDED_BY(platform::recognitionWorker) = false;
};

}  // namespace scrivia::platform::linux_
