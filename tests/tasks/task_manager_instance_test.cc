#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "tasks/task_factory.h"
#include "tasks/task_manager.h"

namespace halvorn {
namespace {

using ::testing::Each;
using ::testing::Eq;
using testing::LogCapture;

// The whole process is the subject here: the first getInstance of the process happens in
// this one test.
TEST(CTaskManagerInstanceTest, EveryThreadGetsTheOneFinishedManagerAlsoFromTheWatcher) {
  LogCapture capture;
  std::mutex seen_lock;
  std::vector<CTaskManager*> seen;
  auto record = [&](CTaskManager* manager) {
    std::lock_guard lock(seen_lock);
    seen.push_back(manager);
  };
  std::atomic<int> init_calls{0};
  std::atomic<int> start_calls{0};
  std::atomic<bool> handler_added{false};

  TaskManagerHooks hooks;
  hooks.initModemHelper = [&] { ++init_calls; };
  hooks.startAccountWatcher = [&] {
    ++start_calls;
    // Events for the accounts present at start, while the first getInstance has not returned:
    // one handled on this very thread, one on an event thread that the start waits for. A
    // first call that kept other callers waiting until it returned would hang here.
    record(CTaskManager::getInstance());
    std::thread event_thread([&] {
      CTaskManager* manager = CTaskManager::getInstance();
      record(manager);
      handler_added = manager->addTask(CTaskFactory::createTask(manager, TASK_TYPE_AUTH_MODULE));
    });
    event_thread.join();
  };
  ASSERT_TRUE(CTaskManager::installProcessHooks(hooks));

  // Several first callers at once.
  // The start gate is a mutex and a condition variable, not std::latch: the MinGW build's
  // libstdc++ has no futex under its atomic wait, and its fallback was seen losing the last
  // arrival's wake-up under Wine (three callers left waiting for good).
  constexpr int kCallers = 4;
  std::mutex gate_lock;
  std::condition_variable gate_open;
  int arrived = 0;
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&] {
      {
        std::unique_lock hold(gate_lock);
        if (++arrived == kCallers) {
          gate_open.notify_all();
        } else {
          gate_open.wait(hold, [&] { return arrived == kCallers; });
        }
      }
      record(CTaskManager::getInstance());
    });
  }
  for (auto& caller : callers) {
    caller.join();
  }
  CTaskManager* manager = CTaskManager::getInstance();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kCallers + 2));
  EXPECT_THAT(seen, Each(Eq(manager)));
  EXPECT_EQ(init_calls.load(), 1);
  EXPECT_EQ(start_calls.load(), 1);
  EXPECT_TRUE(handler_added.load());
  // The handler's task went into that manager.
  CTask* task = manager->getTask();
  ASSERT_NE(task, nullptr);
  EXPECT_STREQ(task->getName(), "CTaskAuthModule");
  EXPECT_EQ(task->pOwner, manager);
  // Too late for other hooks once the manager exists.
  EXPECT_FALSE(CTaskManager::installProcessHooks(TaskManagerHooks{}));

  const std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T h : + CTaskManager::CTaskManager"), 1);
}

}  // namespace
}  // namespace halvorn
