// Start-up: the program's entry, on any platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace scrivia::app {

struct App;

// Start-up up to the run loop: options, then either the catalogue or the
// recogniser, the permission requests and the control channel. The run's
// state lives as long as the returned object or the run loop's work.
std::shared_ptr<App> start(std::vector<std::string> args, platform::Platform& platform);

// Runs scrivia with `args` (the arguments after the program name) on
// `platform` until the run ends; returns the exit status it ended with.
int run(std::vector<std::string> args, platform::Platform& platform);

}  // namespace scrivia::app
