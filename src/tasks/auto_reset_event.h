// An auto-reset event built on the standard library, the same on every build.

#ifndef HALVORN_TASKS_AUTO_RESET_EVENT_H_
#define HALVORN_TASKS_AUTO_RESET_EVENT_H_

#include <condition_variable>
#include <mutex>

namespace halvorn {

// Starts not signalled. Set() signals it; Wait() blocks, using no processor time, until it is
// signalled and then resets it, so one Set() releases one Wait(). A Set() with nobody waiting
// is kept for the next Wait(). Making it cannot fail, so a waiter always blocks rather than
// spins.
class AutoResetEvent {
 public:
  AutoResetEvent() = default;
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace halvorn

#endif  // HALVORN_TASKS_AUTO_RESET_EVENT_H_
