// Tells when the task manager's worker thread has ended, so that the stop can wait for it
// with a bound (the manager itself keeps its thread and never joins it).

#ifndef HALVORN_SERVICE_WORKER_END_H_
#define HALVORN_SERVICE_WORKER_END_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "tasks/task_manager.h"

namespace halvorn::service {

class WorkerEndWatch {
 public:
  using Starter = std::function<std::uint32_t(std::function<void()> body, std::thread* thread)>;

  // A thread starter for TaskManagerHooks::startThread: starts the worker through `start`
  // and notes when its body has returned, or that no worker was started.
  Starter WrapStarter(Starter start = &TaskManagerHooks::SystemStartThread) {
    return [this, start = std::move(start)](std::function<void()> body, std::thread* thread) {
      {
        std::lock_guard lock(lock_);
        running_ = true;
      }
      const std::uint32_t error = start(
          [this, body = std::move(body)] {
            body();
            Ended();
          },
          thread);
      if (error != 0) {
        Ended();
      }
      return error;
    };
  }

  // True when no worker runs, at once or within `bound_ms`.
  bool WaitFor(std::uint32_t bound_ms) {
    std::unique_lock lock(lock_);
    return ended_.wait_for(lock, std::chrono::milliseconds(bound_ms), [this] { return !running_; });
  }

 private:
  void Ended() {
    {
      std::lock_guard lock(lock_);
      running_ = false;
    }
    ended_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable ended_;
  bool running_ = false;
};

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_WORKER_END_H_
