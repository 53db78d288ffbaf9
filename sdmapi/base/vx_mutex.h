// A recursive mutex that the thread holding it can release in a forked child.
//
// The library takes its locks before a fork() and releases them after it, in
// the parent and in the child (vx_fork.h), so that the child never finds one
// held by a thread it does not have. A recursive mutex of the C library
// records its holder by kernel thread id, which the forking thread no longer
// has in the child: there it could not release it. This one records the
// holder by pthread_t, which the forking thread keeps, over a plain mutex,
// which any thread may release.
#pragma once

#include <pthread.h>

#include <atomic>
#include <mutex>

class VxRecursiveMutex {
public:
    VxRecursiveMutex() = default;
    VxRecursiveMutex(const VxRecursiveMutex&) = delete;
    VxRecursiveMutex& operator=(const VxRecursiveMutex&) = delete;

    void lock() {
        if (held_here()) {
            ++depth_;
            return;
        }
        mutex_.lock();
        take();
    }

    [[nodiscard]] bool try_lock() {
        if (held_here()) {
            ++depth_;
            return true;
        }
        if (!mutex_.try_lock()) return false;
        take();
        return true;
    }

    void unlock() {
        if (--depth_ != 0) return;
        holder_.store(pthread_t{}, std::memory_order_relaxed);
        mutex_.unlock();
    }

    // Whether the calling thread holds it, and how many times over (0 when
    // another thread or none holds it).
    [[nodiscard]] bool held_here() const {
        return pthread_equal(holder_.load(std::memory_order_relaxed), pthread_self()) != 0;
    }
    [[nodiscard]] unsigned depth() const { return held_here() ? depth_ : 0; }

private:
    void take() {
        holder_.store(pthread_self(), std::memory_order_relaxed);
        depth_ = 1;
    }

    std::mutex mutex_;
    // Written only by the holder, under mutex_; a thread finds its own id
    // there only when it wrote it itself. No thread's pthread_t is 0.
    std::atomic<pthread_t> holder_{};
    unsigned depth_ = 0;  // the holder's
};
