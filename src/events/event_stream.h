// The one writer of standard output.
#pragma once

#include <mutex>
#include <string>

#include "events/events.h"
#include "platform/platform.h"

namespace scrivia::events {

class EventStream {
  public:
    EventStream(int out, platform::Process& process) : out(out), process(process) {}

    // Writes `event` as one whole line; any thread. An event that cannot be
    // serialised is dropped. Nothing is written once "end" has been.
    void emit(const Event& event);

    // "error", "end", exit status 1. Main thread.
    [[noreturn]] void fail(const std::string& code, const std::string& message);

    // "end", then the process exits with `status`.
    [[noreturn]] void end(int status);

  private:
    bool write(const std::string& line, bool last);

    const int out;
    std::mutex outLock;
    bool ended = false;  // guarded by outLock
    platform::Process& process;
};

}  // namespace scrivia::events
