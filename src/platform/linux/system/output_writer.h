// Event lines to a file descriptor (standard output), written by a thread of
// their own ("output-writer") so that no other thread ever waits for the host.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/system/named_thread.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::platform::linux_ {

class OutputWriter final : public platform::Output {
  public:
    // The writer thread starts here, not on some later thread's first line.
    explicit OutputWriter(int fd)
        : fd_(fd), thread_(startNamedThread("output-writer", [this] { run(); })) {}
    ~OutputWriter() override;
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Queues `line`; a droppable one only when nothing is waiting. Any thread.
    void write(std::string line, bool droppable) override SCRIVIA_EXCLUDES(mutex_);
    void setClosedHandler(std::function<void()> handler) override SCRIVIA_EXCLUDES(mutex_);
    // Blocks until every line queued so far is written, or the host is gone.
    void drain() SCRIVIA_EXCLUDES(mutex_);

  private:
    void run() SCRIVIA_EXCLUDES(mutex_);

    const int fd_;
    Mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::string> queue_ SCRIVIA_GUARDED_BY(mutex_);
    bool writing_ SCRIVIA_GUARDED_BY(mutex_) = false;  // a line is on its way to the host
    bool closed_ SCRIVIA_GUARDED_BY(mutex_) = false;   // the host cannot be written to any more
    bool quitting_ SCRIVIA_GUARDED_BY(mutex_) = false;
    std::function<void()> closedHandler_ SCRIVIA_GUARDED_BY(mutex_);
    std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace scrivia::platform::linux_
