#include "platform/linux/system/process.h"

#include <signal.h>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/linux/system/named_thread.h"
#include "platform/locale_identifier.h"

namespace scrivia::platform::linux_ {

namespace {
constexpr const char* kFallbackLocale = "en_US";
// Linux keeps 15 characters of a thread's name, plus the terminating null.

// The loop the signal handler wakes; set once, before any handler is installed.
RunLoop* signalTarget = nullptr;

void onSignal(int) {
    signalTarget->signalArrived();
}

bool isSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}
}  // namespace

std::string localeIdentifierFromEnvironment(const char* lcAll, const char* lcMessages,
                                            const char* lang) {
    // An empty variable counts as unset, as it does for setlocale.
    const char* chosen = isSet(lcAll) ? lcAll : isSet(lcMessages) ? lcMessages : lang;
    if (!isSet(chosen)) return kFallbackLocale;
    const std::string_view name = localeParts(chosen).name;
    // C.UTF-8 is the C locale too; a path names a locale file, not a language.
    if (name.empty() || name == "C" || name == "POSIX" ||
        name.find('/') != std::string_view::npos) {
        return kFallbackLocale;
    }
    return std::string(name);
}

std::string Process::currentLocaleIdentifier() {
    // Read straight from the environment rather than through setlocale, which
    // would change the process's locale (the core parses numbers in "C") and
    // fails outright for a locale that is not installed.
    return localeIdentifierFromEnvironment(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                           std::getenv("LANG"));
}

void Process::runInBackground(const std::string& name, std::function<void()> work) {
    startNamedThread(name, std::move(work)).detach();
}

void Process::onTerminationRequest(std::function<void()> handler) {
    runLoop_.setSignalHandler(std::move(handler));
    signalTarget = &runLoop_;
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace scrivia::platform::linux_
