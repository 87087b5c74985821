// The process itself on Linux: its standard streams, threads, locale and exit.
#pragma once

#include <string>

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
    std::string currentLocaleIdentifier() override;
    int standardOutput() override { return 1; }
    int standardInput() override { return 0; }
    // A detached thread; `name` is cut to the 15 characters Linux keeps.
    void runInBackground(const std::string& name, std::function<void()> work) override;
    [[noreturn]] void exit(int status) override;
};

}  // namespace scrivia::platform::linux_
