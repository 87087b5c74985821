// Counts recognition errors of the current request: too many too close
// together end the run. Main thread only; touches no platform.
#pragma once

#include <cstddef>
#include <vector>

namespace scrivia::session {

struct ErrorWindowConfig {
    double windowSeconds = 6.0;  // errors older than this are forgotten
    std::size_t limit = 5;       // this many within the window end the run
};

class ErrorWindow {
  public:
    explicit ErrorWindow(ErrorWindowConfig config = {}) : config_(config) {}

    // Counts an error at `now` (seconds); true when it reaches the limit.
    bool record(double now);

  private:
    ErrorWindowConfig config_;
    std::vector<double> recent_;
};

}  // namespace scrivia::session
