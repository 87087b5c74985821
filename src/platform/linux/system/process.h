// The process itself on Linux: its standard streams, threads and locale.
#pragma once

#include <string>

#include "platform/linux/system/output_writer.h"
#include "platform/linux/system/run_loop.h"
#include "platform/platform.h"

namespace scrivia::platform::linux_ {

// The user's locale identifier (fr_FR) from the values of LC_ALL, LC_MESSAGES
// and LANG (null when unset), taken in the C library's order of precedence.
// The codeset and modifier are dropped; the C and POSIX locales, and no
// setting at all, give en_US.
std::string localeIdentifierFromEnvironment(const char* lcAll, const char* lcMessages,
                                            const char* lang);

class Process final : public platform::Process {
  public:
    explicit Process(RunLoop& runLoop) : runLoop_(runLoop) {}

    std::string currentLocaleIdentifier() override;
    platform::Output& standardOutput() override { return output_; }
    int standardInput() override { return 0; }
    // A detached thread; `name` is cut to the 15 characters Linux keeps.
    void runInBackground(const std::string& name, std::function<void()> work) override;
    // SIGINT, SIGTERM and SIGHUP wake the main loop, which runs `handler`.
    void onTerminationRequest(std::function<void()> handler) override;
    std::optional<std::string> readUserFile(const std::string& path, std::size_t maxBytes) override;
    // Waits until the host has every line written so far, or has gone.
    void drainOutput() { output_.drain(); }

  private:
    RunLoop& runLoop_;
    OutputWriter output_{1};
};

}  // namespace scrivia::platform::linux_
