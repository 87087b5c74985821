// The scrivia executable: the start-up on the Linux services.
#include <csignal>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
    // A host that has closed our standard output must not kill us mid-write;
    // the write fails instead, and the core sees that.
    std::signal(SIGPIPE, SIG_IGN);
    auto linuxPlatform = scrivia::platform::linux_::makePlatform();
    return scrivia::app::run(std::vector<std::string>(argv + 1, argv + argc),
                             linuxPlatform->platform);
}
