// A recognition request and the task that decodes it with PocketSphinx.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/speech/sample_converter.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::platform::linux_ {

// Wakes the recognition worker. Any thread; must not block.
using WakeWorker = std::function<void()>;

// An audio-buffer request. The audio thread appends, the main thread ends,
// and the recognition worker takes what has arrived so far.
class SphinxRequest final : public RecognitionRequest {
  public:
    // Keeps the average of the buffer's channels.
    void append(const AudioBuffer& buffer) override SCRIVIA_REQUIRES(platform::audioThread)
        SCRIVIA_EXCLUDES(mutex_);
    void endAudio() override SCRIVIA_EXCLUDES(mutex_);

    // Everything appended since the last call, and whether audio has ended.
    struct Pending {
        std::vector<AudioChunk> chunks;
        bool ended = false;
    };
    Pending take() SCRIVIA_EXCLUDES(mutex_);
    // Binds the request to the worker that decodes it, which is woken when
    // audio arrives. False when the request already has a task.
    bool attach(WakeWorker wake) SCRIVIA_EXCLUDES(mutex_);
    // Drops queued audio and ignores any that comes later.
    void discard() SCRIVIA_EXCLUDES(mutex_);

  private:
    Mutex mutex_;
    std::vector<AudioChunk> chunks_ SCRIVIA_GUARDED_BY(mutex_);
    bool ended_ SCRIVIA_GUARDED_BY(mutex_) = false;
    bool discarded_ SCRIVIA_GUARDED_BY(mutex_) = false;
    WakeWorker wake_ SCRIVIA_GUARDED_BY(mutex_);  // set once a task takes the request
};

// The task of one request. Made and cancelled on the main thread; the
// recognition worker decodes its request and posts its results to the main
// loop, where they reach the handler unless the task was cancelled by then.
class SphinxTask final : public RecognitionTask, public std::enable_shared_from_this<SphinxTask> {
  public:
    SphinxTask(std::shared_ptr<SphinxRequest> request, ResultHandler handler, WakeWorker wake);

    void cancel() override;

    // Runs the handler with a result or an error on the main thread, unless
    // the task is cancelled by then. After the last delivery the handler is
    // let go. Any thread.
    void deliver(platform::RunLoop& loop, std::optional<RecognitionResult> result,
                 std::optional<Error> error, bool last);

    const std::shared_ptr<SphinxRequest> request;
    const bool reportsPartialResults;
    const bool punctuates;
    std::atomic<bool> cancelled{false};  // set on main, read by the worker

  private:
    const WakeWorker wake_;
    Mutex handlerMutex_;
    ResultHandler handler_ SCRIVIA_GUARDED_BY(handlerMutex_);
};

}  // namespace scrivia::platform::linux_
