// The one writer of standard output, and the only way a run asks to end.
#pragma once

#include <mutex>
#include <string>

#include "events/events.h"
#include "platform/platform.h"

namespace scrivia::events {

class EventStream {
  public:
    EventStream(platform::Output& out, platform::RunLoop& runLoop) : out(out), runLoop(runLoop) {}

    // Writes `event` as one whole line; any thread, never waits for the host.
    // Nothing is written once "end" has been.
    void emit(const Event& event);

    // "error", then "end" with exit status 1.
    void fail(const std::string& code, const std::string& message);

    // "end", then the run ends with `status`.
    void end(int status);

    // Ends the run with `status` without a line: for "--list", whose last line
    // is "locales", and for a host that has gone away.
    void close(int status);

    bool hasEnded();

  private:
    platform::Output& out;
    platform::RunLoop& runLoop;
    std::mutex outLock;  // keeps "end" last whichever thread writes
    bool ended = false;  // guarded by outLock
};

}  // namespace scrivia::events
