// The one writer of standard output, and the only way a run asks to end.
#pragma once

#include <string>

#include "events/events.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::events {

class EventStream {
  public:
    EventStream(platform::Output& out, platform::RunLoop& runLoop) : out_(out), runLoop_(runLoop) {}

    // Writes `event` as one whole line; any thread, never waits for the host.
    // Nothing is written once "end" has been.
    void emit(const Event& event) SCRIVIA_EXCLUDES(outLock_);

    // "error", then "end" with exit status 1.
    void fail(const std::string& code, const std::string& message);

    // "end", then the run ends with `status`.
    void end(int status) SCRIVIA_EXCLUDES(outLock_);

    // Ends the run with `status` without a line: for "--list", whose last line
    // is "locales", and for a host that has gone away.
    void close(int status) SCRIVIA_EXCLUDES(outLock_);

    bool hasEnded() SCRIVIA_EXCLUDES(outLock_);

  private:
    platform::Output& out_;
    platform::RunLoop& runLoop_;
    platform::Mutex outLock_;  // keeps "end" last whichever thread writes
    bool ended_ SCRIVIA_GUARDED_BY(outLock_) = false;
};

}  // namespace scrivia::events
