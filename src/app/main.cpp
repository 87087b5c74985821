// The scrivia executable: the start-up on the Linux services. The only place
// the process ends.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/speech/model_check.h"

int main(int argc, char** argv) {
    // Started by ourselves to try a model out (see model_check.h): nothing else.
    if (auto status = scrivia::platform::linux_::runModelProbe(argc, argv)) std::_Exit(*status);
    // A host that has closed our standard output must not kill us mid-write;
    // the write fails instead.
    std::signal(SIGPIPE, SIG_IGN);
    auto linuxPlatform = scrivia::platform::linux_::makePlatform();
    const int status =
        scrivia::app::run(std::vector<std::string>(argv + 1, argv + argc), linuxPlatform->platform);
    // "end" reaches the host before we go (unless it has gone); skipping
    // destructors keeps them from racing the audio and recognition threads.
    linuxPlatform->process.drainOutput();
    std::_Exit(status);
}
