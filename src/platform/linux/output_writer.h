// Event lines to a file descriptor (standard output).
#pragma once

#include <mutex>
#include <string>

#include "platform/platform.h"

namespace scrivia::platform::linux_ {

class OutputWriter final : public platform::Output {
  public:
    explicit OutputWriter(int fd) : fd_(fd) {}
    void write(std::string line, bool droppable) override;

  private:
    const int fd_;
    std::mutex mutex_;  // keeps lines from two threads whole
};

}  // namespace scrivia::platform::linux_
