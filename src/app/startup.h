// Start-up: the program's entry, on any platform.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace scrivia::app {

// Runs scrivia with `args` (the arguments after the program name) on
// `platform`. Ends through `platform.process.exit` in every case but a return
// of the run loop, when it returns 0.
int run(std::vector<std::string> args, platform::Platform& platform);

}  // namespace scrivia::app
