// The one writer of standard output, and the only way a run asks to end.
#pragma once

#include <string>

#include "events/events.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::events {

class EventStream {
  public:
    EventStream(platform::Output& out, platform::RunLoop& runLoop) : out(out), runLoop(runLoop) {}

    // Writes `event` as one whole line; any thread, never waits for the host.
    // Nothing is written once "end" has been.
    void emit(const Event& event) SCRIVIA_EXCLUDES(outLock);

    // "error", then "end" with exit status 1.
    void fail(const std::string& code, const std::string& message);

    // "end", then the run ends with `status`.
    void end(int status) SCRIVIA_EXCLUDES(outLock);

    // Ends the run with `status` without a line: for "--list", whose last line
    // is "locales", and for a host that has gone away.
    void close(int status) SCRIVIA_EXCLUDES(outLock);

    bool hasEnded() SCRIVIA_EXCLUDES(outLock);

  private:
    platform::Output& out;
    platform::RunLoop& runLoop;
    platform::Mutex outLock;  // keeps "end" last whichever thread writes
    bool ended SCRIVIA_GUARDED_BY(outLock) = false;
};

}  // namespace scrivia::events
