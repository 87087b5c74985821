// What guards each field shared between threads, and which thread a function
// must run on, written so that Clang's thread-safety analysis
// (-Wthread-safety) checks it. GCC ignores the annotations.
//
// The vocabulary: a field is GUARDED_BY a Mutex, or by a ThreadRole when one
// thread alone may touch it; a function REQUIRES what it reads, or EXCLUDES
// a lock it takes itself. The roles are the threads named by their job.
#pragma once

#include <mutex>

#if defined(__clang__)
#define SCRIVIA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define SCRIVIA_THREAD_ANNOTATION(x)
#endif

#define SCRIVIA_CAPABILITY(name) SCRIVIA_THREAD_ANNOTATION(capability(name))
#define SCRIVIA_SCOPED_CAPABILITY SCRIVIA_THREAD_ANNOTATION(scoped_lockable)
#define SCRIVIA_GUARDED_BY(x) SCRIVIA_THREAD_ANNOTATION(guarded_by(x))
#define SCRIVIA_PT_GUARDED_BY(x) SCRIVIA_THREAD_ANNOTATION(pt_guarded_by(x))
#define SCRIVIA_REQUIRES(...) SCRIVIA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define SCRIVIA_EXCLUDES(...) SCRIVIA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define SCRIVIA_ACQUIRE(...) SCRIVIA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define SCRIVIA_RELEASE(...) SCRIVIA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define SCRIVIA_ASSERT_CAPABILITY(x) SCRIVIA_THREAD_ANNOTATION(assert_capability(x))
// For code the analysis cannot follow (a lock held by a C library); say why where it is used.
#define SCRIVIA_NO_THREAD_SAFETY_ANALYSIS SCRIVIA_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace scrivia::platform {

// std::mutex with the capability the analysis needs; libstdc++'s carries none.
class SCRIVIA_CAPABILITY("mutex") Mutex {
  public:
    void lock() SCRIVIA_ACQUIRE() { mutex_.lock(); }
    void unlock() SCRIVIA_RELEASE() { mutex_.unlock(); }

  private:
    std::mutex mutex_;
};

// Holds a Mutex for a scope. It can be let go of and taken again inside the
// scope, and a std::condition_variable_any waits on it.
class SCRIVIA_SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) SCRIVIA_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() SCRIVIA_RELEASE() {
        if (held_) mutex_.unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void lock() SCRIVIA_ACQUIRE() {
        mutex_.lock();
        held_ = true;
    }
    void unlock() SCRIVIA_RELEASE() {
        held_ = false;
        mutex_.unlock();
    }

  private:
    Mutex& mutex_;
    bool held_ = true;
};

// A thread's job, as a capability: what only that thread touches is guarded
// by its role. It costs nothing at run time.
class SCRIVIA_CAPABILITY("role") ThreadRole {
  public:
    // Where code starts to run in this role: a task the main loop runs, a
    // thread's entry, a callback of a library's own thread.
    void assertHeld() const SCRIVIA_ASSERT_CAPABILITY(this) {}
};

inline ThreadRole mainThread;         // the run loop: all session state
inline ThreadRole audioThread;        // the sound server's callbacks
inline ThreadRole recognitionWorker;  // decodes requests

}  // namespace scrivia::platform
