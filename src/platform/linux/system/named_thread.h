// Threads named after their job, so a debugger or `top -H` tells them apart.
#pragma once

#include <functional>
#include <string_view>
#include <thread>

namespace scrivia::platform::linux_ {

// A thread that runs `work` under `name`, cut to the 15 characters Linux keeps.
std::thread startNamedThread(std::string_view name, std::function<void()> work);

}  // namespace scrivia::platform::linux_
