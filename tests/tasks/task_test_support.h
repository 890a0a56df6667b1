// Test doubles of the task engine: a task kind of the test's choosing, the manager's hooks
// recording what the manager asks of them, and the expected shape of log lines.

#ifndef HALVORN_TESTS_TASKS_TASK_TEST_SUPPORT_H_
#define HALVORN_TESTS_TASKS_TASK_TEST_SUPPORT_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tasks/task.h"
#include "tasks/task_kinds.h"
#include "tasks/task_manager.h"

namespace halvorn::testing {

// A task with the name, type id and priority a test chooses. Each run calls `job` (a run
// without one finishes at once) and notes "run <name>" in the journal when one is given.
class ProbeTask : public CTask {
 public:
  using Job = std::function<bool(ProbeTask& self, bool* retry)>;

  ProbeTask(const char* name,
            std::int32_t type_id,
            std::int32_t priority,
            Job job = {},
            std::atomic<int>* destroyed = nullptr)
      : name_(name), type_id_(type_id), job_(std::move(job)), destroyed_(destroyed) {
    iPriority = priority;
  }
  ~ProbeTask() override {
    if (destroyed_ != nullptr) {
      ++*destroyed_;
    }
  }

  bool doJob(bool* retry) override {
    bRunning = true;
    ++runs;
    const bool result = job_ ? job_(*this, retry) : true;
    bRunning = false;
    return result;
  }
  const char* getName() const override { return name_; }
  std::int32_t getTypeId() const override { return type_id_; }

  int runs = 0;  // touched by the worker only

 private:
  const char* name_;
  std::int32_t type_id_;
  Job job_;
  std::atomic<int>* destroyed_;
};

// The manager's clock, sleeper, restart and thread starter, recording in one journal, in
// order: "sleep <ms>", "restart", and whatever a test notes itself. The clock stands still
// except when a test or a sleep advances it. The manager's authorisation job and give-up
// policy are the test's own (auth_job, give_up), read when the manager uses them.
class FakeSystem {
 public:
  enum class Worker {
    kManual,  // init starts no thread; the test runs dealTaskThread itself
    kThread,  // init starts a real thread
  };

  TaskManagerHooks Hooks(Worker worker) {
    TaskManagerHooks hooks;
    hooks.tickCountMs = [this] { return now_.load(); };
    hooks.sleepMs = [this](std::uint32_t ms) {
      Note("sleep " + std::to_string(ms));
      now_ += ms;
      if (on_sleep) {
        on_sleep(ms);
      }
    };
    hooks.restartService = [this] {
      Note("restart");
      std::lock_guard lock(mutex_);
      ++restarts_;
      cv_.notify_all();
    };
    // Bound while the test may still set them: a test makes the manager before its job.
    hooks.authModuleJob = [this](bool* retry) { return auth_job ? auth_job(retry) : false; };
    hooks.giveUpPolicy = [this](const char* name) { return give_up(name); };
    if (worker == Worker::kManual) {
      hooks.startThread = [this](std::function<void()>, std::thread*) {
        ++thread_starts;
        return start_error;
      };
    }
    return hooks;
  }

  void Note(std::string entry) {
    std::lock_guard lock(mutex_);
    journal_.push_back(std::move(entry));
  }
  std::vector<std::string> Journal() {
    std::lock_guard lock(mutex_);
    return journal_;
  }
  void Advance(std::uint64_t ms) { now_ += ms; }
  void WaitForRestart() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return restarts_ > 0; });
  }

  // Called on the worker after each recorded sleep, without the manager's lock.
  std::function<void(std::uint32_t ms)> on_sleep;
  // The job of the manager's authorisation tasks; while empty a run could not begin.
  AuthModuleJob auth_job;
  // The give-up policy. The default restarts for the authorisation task and clears the
  // priority for "CTaskUnzipFirmware" (the names compared exactly; the service's own policy,
  // which ignores case, is tested with the service), and gives up any other.
  std::function<GiveUpAction(const char* name)> give_up = [](const char* name) {
    const std::string_view n(name);
    return n == "CTaskAuthModule"      ? GiveUpAction::kRestartService
           : n == "CTaskUnzipFirmware" ? GiveUpAction::kClearSamePriority
                                       : GiveUpAction::kGiveUp;
  };
  // What the manual thread starter returns, and how often it was asked.
  std::uint32_t start_error = 0;
  std::atomic<int> thread_starts{0};

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> journal_;
  int restarts_ = 0;
  std::atomic<std::uint64_t> now_{0};
};

// The log lines, as LogCapture::Lines() shows them, that a sequence of calls leaves. A message
// holding CR LF spans several lines of the file.
class ExpectedLog {
 public:
  ExpectedLog& Enter(std::string_view tag) {
    lines_.push_back("T h : + " + std::string(tag));
    return *this;
  }
  ExpectedLog& Leave(std::string_view tag) {
    lines_.push_back("T h : - " + std::string(tag));
    return *this;
  }
  ExpectedLog& Info(std::string_view message) { return Message("T i :   ", message); }
  ExpectedLog& Error(std::string_view message) { return Message("T e :   ", message); }
  ExpectedLog& Append(const ExpectedLog& other) {
    lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
    return *this;
  }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  ExpectedLog& Message(std::string_view prefix, std::string_view message) {
    std::string text = std::string(prefix) + std::string(message);
    std::size_t pos = 0;
    for (;;) {
      const std::size_t end = text.find("\r\n", pos);
      lines_.push_back(text.substr(pos, end == std::string::npos ? end : end - pos));
      if (end == std::string::npos) {
        break;
      }
      pos = end + 2;
    }
    return *this;
  }

  std::vector<std::string> lines_;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_TASKS_TASK_TEST_SUPPORT_H_
