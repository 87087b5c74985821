#include "platform/linux/output_writer.h"

#include <unistd.h>

#include <cerrno>

namespace scrivia::platform::linux_ {

void OutputWriter::write(std::string line, bool) {
    std::lock_guard lock(mutex_);
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the host stopped reading; nothing to tell it
        data += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace scrivia::platform::linux_
