#include "app/control_channel.h"

#include <unistd.h>

#include <cerrno>

#include "app/app.h"
#include "events/text.h"

namespace scrivia::app {

bool ControlLineReader::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        auto lf = bytes.find('\n');
        auto piece = bytes.substr(0, lf);
        if (!overlong_) {
            if (line_.size() + piece.size() > maxKept) {
                overlong_ = true;
                line_.clear();
            } else {
                line_.append(piece);
            }
        }
        if (lf == std::string_view::npos) return false;
        if (lineEnds()) return true;
        bytes.remove_prefix(lf + 1);
    }
    return false;
}

bool ControlLineReader::lineEnds() {
    bool stop = !overlong_ && events::trimmed(line_) == "stop";
    line_.clear();
    overlong_ = false;
    return stop;
}

namespace {

// Blocks on standard input until "stop" or its end; a read error counts as the end.
void readUntilStop(int fd) {
    ControlLineReader reader;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the end of input stops like "stop", last line or not
        if (reader.feed(std::string_view(buffer, static_cast<size_t>(n)))) return;
    }
}

void handOff(App& app) SCRIVIA_REQUIRES(platform::mainThread) {
    if (app.scrivia) {
        app.scrivia->stop();
        return;
    }
    app.stream.end(0);
}

}  // namespace

void watchHost(const std::shared_ptr<App>& app) {
    auto& loop = app->platform.runLoop;
    app->platform.process.standardOutput().setClosedHandler([app, &loop] {
        loop.post([app] {
            platform::mainThread.assertHeld();  // a task of the main loop
            if (app->scrivia) return app->scrivia->abandon();
            app->stream.close(1);
        });
    });
    app->platform.process.onTerminationRequest([app] {
        platform::mainThread.assertHeld();  // the handler runs on the main loop
        if (!app->scrivia) return app->stream.end(0);
        if (app->scrivia->isStopping()) return app->scrivia->stopNow();
        app->scrivia->stop();
    });
}

void startControlChannel(const std::shared_ptr<App>& app) {
    int fd = app->platform.process.standardInput();
    app->platform.process.runInBackground("stdin-reader", [app, fd] {
        readUntilStop(fd);
        app->platform.runLoop.post([app] {
            platform::mainThread.assertHeld();  // a task of the main loop
            handOff(*app);
        });
    });
}

}  // namespace scrivia::app
