// Control lines from the host: "stop" or the end of input ends the run.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace scrivia::app {

// Splits bytes from standard input into lines and spots "stop". It keeps at
// most `maxKept` bytes of a line: a longer line cannot be "stop" and is
// skipped up to its line feed, so an endless line cannot exhaust memory.
class ControlLineReader {
  public:
    static constexpr std::size_t maxKept = 4096;

    // Whether `bytes` complete a line that reads "stop" once trimmed.
    bool feed(std::string_view bytes);

  private:
    bool lineEnds();

    std::string line_;
    bool overlong_ = false;
};

}  // namespace scrivia::app
