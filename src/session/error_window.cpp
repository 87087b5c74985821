#include "session/error_window.h"

namespace scrivia::session {

bool ErrorWindow::record(double now) {
    std::erase_if(recent, [&](double earlier) { return !(now - earlier < config.windowSeconds); });
    recent.push_back(now);
    return recent.size() >= config.limit;
}

}  // namespace scrivia::session
