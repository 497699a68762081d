// A lock for critical sections of a few stores. A waiter spins a little and then gives its core
// away; a blocking mutex costs a system call per contended acquisition and two full atomic
// operations per uncontended one.
#ifndef KAVORI_UTIL_SPIN_MUTEX_H
#define KAVORI_UTIL_SPIN_MUTEX_H

#include <atomic>
#include <thread>

class SpinMutex {
  public:
    void lock() noexcept {
        int spins = 0;
        while (flag_.exchange(true, std::memory_order_acquire)) {
            while (flag_.load(std::memory_order_relaxed)) {
                if (++spins == 100) {
                    std::this_thread::yield();
                    spins = 0;
                }
            }
        }
    }
    void unlock() noexcept { flag_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> flag_{false};
};

#endif
