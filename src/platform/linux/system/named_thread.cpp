#include "platform/linux/system/named_thread.h"

#include <pthread.h>

#include <string>

namespace scrivia::platform::linux_ {

namespace {
constexpr std::size_t kThreadNameLength = 15;  // the kernel's limit, without the terminator
}

std::thread startNamedThread(std::string_view name, std::function<void()> work) {
    return std::thread(
        [name = std::string(name.substr(0, kThreadNameLength)), work = std::move(work)] {
            pthread_setname_np(pthread_self(), name.c_str());
            work();
        });
}

}  // namespace scrivia::platform::linux_
