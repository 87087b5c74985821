#include "session/error_window.h"

namespace scrivia::session {

bool ErrorWindow::record(double now) {
    std::erase_if(recent_,
                  [&](double earlier) { return !(now - earlier < config_.windowSeconds); });
    recent_.push_back(now);
    return recent_.size() >= config_.limit;
}

}  // namespace scrivia::session
