#include "platform/linux/system/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::optional<std::string> Process::readUserFile(const std::string& path, std::size_t maxBytes) {
    // Non-blocking: opening a FIFO without a writer would otherwise wait for
    // one, and start-up with it. Only a regular file is read after that.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> bytes;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uintmax_t>(status.st_size) <= maxBytes) {
        // Read to the end: a file that grew past `maxBytes` meanwhile is refused too.
        std::string text;
        char chunk[16384];
        ssize_t got = 0;
        while (text.size() <= maxBytes &&
               ((got = ::read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)))
            if (got > 0) text.append(chunk, static_cast<std::size_t>(got));
        if (got == 0 && text.size() <= maxBytes) bytes = std::move(text);
    }
    ::close(fd);
    return bytes;
}

}  // namespace scrivia::platform::linux_
