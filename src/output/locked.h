// A record reachable only with its mutex held: the lock rule as a type
// rather than a comment. lock() returns a guard; the fields are reached
// through the guard alone, and it waits on condition variables with the
// mutex it holds.
#pragma once

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kuv {

template <typename T>
class Locked {
 public:
  class Guard {
   public:
    explicit Guard(Locked& owner) : value_(&owner.value_), lock_(owner.mutex_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    T* operator->() {
      assert(lock_.owns_lock());
      return value_;
    }
    T& operator*() {
      assert(lock_.owns_lock());
      return *value_;
    }

    // Runs call with the mutex released, for work that may block (ALSA,
    // joins) and must not hold up the other threads; call must not touch
    // the record.
    template <typename Call>
    void unlocked(Call&& call) {
      lock_.unlock();
      call();
      lock_.lock();
    }

    template <typename Ready>
    void wait(std::condition_variable& cv, Ready ready) {
      cv.wait(lock_, [&] { return ready(*value_); });
    }
    template <typename Rep, typename Period>
    void waitFor(std::condition_variable& cv, std::chrono::duration<Rep, Period> limit) {
      cv.wait_for(lock_, limit);
    }

   private:
    T* value_;
    std::unique_lock<std::mutex> lock_;
  };

  Guard lock() { return Guard(*this); }

 private:
  std::mutex mutex_;
  T value_{};
};

}  // namespace kuv
