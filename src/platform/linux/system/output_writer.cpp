#include "platform/linux/system/output_writer.h"

#include <unistd.h>

#include <cerrno>

namespace scrivia::platform::linux_ {

OutputWriter::~OutputWriter() {
    {
        MutexLock lock(mutex_);
        quitting_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void OutputWriter::write(std::string line, bool droppable) {
    {
        MutexLock lock(mutex_);
        if (closed_) return;
        // A level is only worth showing while the host keeps up.
        if (droppable && (writing_ || !queue_.empty())) return;
        queue_.push_back(std::move(line));
    }
    changed_.notify_all();
}

void OutputWriter::setClosedHandler(std::function<void()> handler) {
    MutexLock lock(mutex_);
    closedHandler_ = std::move(handler);
}

void OutputWriter::drain() {
    MutexLock lock(mutex_);
    while (!closed_ && (!queue_.empty() || writing_)) changed_.wait(lock);
}

void OutputWriter::run() {
    MutexLock lock(mutex_);
    for (;;) {
        while (!quitting_ && queue_.empty()) changed_.wait(lock);
        if (queue_.empty()) return;
        std::string line = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();
        bool failed = false;
        for (std::size_t done = 0; done < line.size() && !failed;) {
            ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            failed = n <= 0;  // EPIPE and the like: the host has gone
            if (!failed) done += static_cast<std::size_t>(n);
        }
        lock.lock();
        writing_ = false;
        if (failed && !closed_) {
            closed_ = true;
            queue_.clear();
            auto handler = closedHandler_;
            lock.unlock();
            changed_.notify_all();
            if (handler) handler();
            lock.lock();
        }
        changed_.notify_all();
    }
}

}  // namespace scrivia::platform::linux_
