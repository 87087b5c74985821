#include "platform/linux/linux_platform.h"

namespace scrivia::platform::linux_ {

std::unique_ptr<LinuxPlatform> makePlatform() {
    return std::make_unique<LinuxPlatform>();
}

}  // namespace scrivia::platform::linux_
