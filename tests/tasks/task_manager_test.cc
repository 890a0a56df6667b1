#include "tasks/task_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "task_test_support.h"
#include "tasks/task_factory.h"
#include "tasks/task_kinds.h"
#include "util/printf_format.h"

namespace halvorn {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ExpectedLog;
using testing::FakeSystem;
using ::testing::IsEmpty;
using testing::LogCapture;
using ::testing::Not;
using testing::ProbeTask;

constexpr const char* kAdd = "CTaskManager::addTask";
constexpr const char* kGet = "CTaskManager::getTask";
constexpr const char* kPop = "CTaskManager::popTask";
constexpr const char* kClear = "CTaskManager::clearSameProrityTask";
constexpr const char* kPrint = "CTaskManager::printTaskList";
constexpr const char* kDeal = "CTaskManager::dealTaskThread";
constexpr const char* kInit = "CTaskManager::init";
constexpr const char* kRetry = "CTaskManager::retry";

// The manager's message texts.
std::string EntryLine(int priority, int size) {
  return StrPrintf(
      "taskElement.iPriority = %d(0 TASK_PRIORITY_HIGH ; 1 TASK_PRIORITY_MEDIUM ; 2 "
      "TASK_PRIORITY_LOW);  list size = %d",
      priority, size);
}
std::string EqualPriorityLine(int priority, int size) {
  return StrPrintf("find equel priority task Element iPriority = %d; list old size = %d", priority,
                   size);
}
std::string NewEntryLine(int priority, const char* name, int type_id) {
  return StrPrintf(
      "there are not exist iPriority = %d task : %s ,add new TaskElement to set, task type id = "
      "%d(100 TASK_TYPE_ID_CHANGE_USB_MODE ; 200 TASK_TYPE_ID_CHECK_STATUS ; 300 "
      "TASK_TYPE_ID_QUICK_BOOT ; 400 TASK_TYPE_ID_UNZIP_FIRMWARE ; 500 TASK_TYPE_ID_UPGRADE ; 600 "
      "TASK_TYPE_ID_UPGRADE_FROM_EDL ; 700 TASK_TYPE_ID_UPGRADE_FROM_NORMAL)",
      priority, name, type_id);
}
std::string NoSuchTypeLine(int type_id) {
  return StrPrintf(
      "the same task type id(%d < 100 TASK_TYPE_ID_CHANGE_USB_MODE ; 200 "
      "TASK_TYPE_ID_CHECK_STATUS ; 300 TASK_TYPE_ID_QUICK_BOOT ; 400 TASK_TYPE_ID_UNZIP_FIRMWARE ; "
      "500 TASK_TYPE_ID_UPGRADE ; 600 TASK_TYPE_ID_UPGRADE_FROM_EDL ; 700 "
      "TASK_TYPE_ID_UPGRADE_FROM_NORMAL>) is not exist , add the task ",
      type_id);
}
std::string PushBackLine(int priority, const char* name, int size) {
  return StrPrintf(
      "find equel priority task Element iPriority = %d; push back new task :%s ,after that list "
      "size = %d",
      priority, name, size);
}
std::string FindEntryLine(int priority, int size) {
  return StrPrintf("find taskElement.iPriority = %d; list size = %d ", priority, size);
}
std::string ListLine(int number, int priority, const char* name, int retry_times) {
  return StrPrintf(
      "[%d]:iPriority %d(0 TASK_PRIORITY_HIGH ; 1 TASK_PRIORITY_MEDIUM ; 2 TASK_PRIORITY_LOW) %s , "
      "retry time = %d",
      number, priority, name, retry_times);
}
constexpr const char* kListBegin =
    "\r\n================= print task list begin ========================\r\n";
constexpr const char* kListEnd =
    "\r\n================= print task list end ========================\r\n";

struct Listed {
  int priority;
  const char* name;
  int retry_times;
};

ExpectedLog PrintedList(const std::vector<Listed>& tasks) {
  ExpectedLog log;
  log.Enter(kPrint).Info(kListBegin);
  int number = 1;
  for (const Listed& t : tasks) {
    log.Info(ListLine(number++, t.priority, t.name, t.retry_times));
  }
  log.Info(kListEnd).Leave(kPrint);
  return log;
}

// getTask finding `name` first in the entry of `priority`, after walking `empty_before`.
ExpectedLog FoundTask(const std::vector<int>& empty_before,
                      int priority,
                      int size,
                      const char* name) {
  ExpectedLog log;
  log.Enter(kGet);
  for (int p : empty_before) {
    log.Info(FindEntryLine(p, 0));
  }
  log.Info(FindEntryLine(priority, size))
      .Info(StrPrintf("find taskElement.type = %s; ", name))
      .Info(StrPrintf("after  front list size = %d; ", size));
  return log;
}

std::string DealLine(const char* name, const char* seconds) {
  return StrPrintf("\r\n\r\n Deal Task %s Cast Time %ss\r\n", name, seconds);
}

// Whether `run` occurs in `lines` as consecutive lines.
::testing::AssertionResult HasRun(const std::vector<std::string>& lines,
                                  const std::vector<std::string>& run) {
  if (std::search(lines.begin(), lines.end(), run.begin(), run.end()) != lines.end()) {
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "these consecutive lines:\n";
  for (const std::string& line : run) {
    failure << "  [" << line << "]\n";
  }
  failure << "are not in:\n";
  for (const std::string& line : lines) {
    failure << "  [" << line << "]\n";
  }
  return failure;
}

std::unique_ptr<ProbeTask> Probe(const char* name,
                                 int type_id,
                                 int priority,
                                 ProbeTask::Job job = {},
                                 std::atomic<int>* destroyed = nullptr) {
  return std::make_unique<ProbeTask>(name, type_id, priority, std::move(job), destroyed);
}

// A job that notes its run in the journal and finishes.
ProbeTask::Job Noting(FakeSystem& system) {
  return [&system](ProbeTask& self, bool*) {
    system.Note(std::string("run ") + self.getName());
    return true;
  };
}

// A manager whose worker the test runs on its own thread (init starts no thread).
struct ManualWorker {
  ManualWorker() : manager(system.Hooks(FakeSystem::Worker::kManual)) {}
  // With hooks of the test's own; `system` is then unused.
  explicit ManualWorker(TaskManagerHooks hooks) : manager(std::move(hooks)) {}

  unsigned Run() {
    manager.init();
    return CTaskManager::dealTaskThread(&manager);
  }
  // A stop-work task in a priority of its own after every other, so the loop ends once all
  // else is done.
  void AddFinalStop(int priority = 9) {
    auto stop = CTaskFactory::createTask(&manager, TASK_TYPE_STOP_WORK);
    stop->iPriority = priority;
    manager.addTask(std::move(stop));
  }

  FakeSystem system;
  CTaskManager manager;
};

// ---------------------------------------------------------------------------------------------
// addTask

TEST(CTaskManagerAddTaskTest, NullTaskIsRefusedWithOnlyTheEntryLine) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  LogCapture capture;
  EXPECT_FALSE(manager.addTask(nullptr));
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CTaskManager::addTask"));
}

TEST(CTaskManagerAddTaskTest, NewPriorityWalksEveryEntryThenMakesItsOwn) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  LogCapture capture;
  EXPECT_TRUE(manager.addTask(Probe("CTaskLow", 100, 2)));
  EXPECT_TRUE(manager.addTask(Probe("CTaskHigh", 200, 0)));
  EXPECT_TRUE(manager.addTask(Probe("CTaskMedium", 300, 1)));
  ExpectedLog expected;
  expected.Enter(kAdd).Info(NewEntryLine(2, "CTaskLow", 100)).Leave(kAdd);
  expected.Enter(kAdd).Info(EntryLine(2, 1)).Info(NewEntryLine(0, "CTaskHigh", 200)).Leave(kAdd);
  expected.Enter(kAdd)
      .Info(EntryLine(0, 1))
      .Info(EntryLine(2, 1))
      .Info(NewEntryLine(1, "CTaskMedium", 300))
      .Leave(kAdd);
  EXPECT_THAT(capture.Lines(), ElementsAreArray(expected.lines()));
}

TEST(CTaskManagerAddTaskTest, DuplicateIsDestroyedAndRaisesOnlyAnExhaustedCount) {
  struct Case {
    int filed_retry_times;
    int code;  // the new task's kind
    int retry_times_after;
    const char* message;
  };
  const Case cases[] = {
      {7, TASK_TYPE_AUTH_MODULE, 7,
       "find the same task ID, and the retry times(7) != 0 ,so do not add the new task(800)"},
      {0, TASK_TYPE_AUTH_MODULE, 1,
       "find the same task ID, and the retry times(0) == 0 ,so do not add the new task(800),but "
       "add 1 "},
      // A stop-work task has the same priority and type id: it is absorbed the same way.
      {10, TASK_TYPE_STOP_WORK, 10,
       "find the same task ID, and the retry times(10) != 0 ,so do not add the new task(800)"},
      {0, TASK_TYPE_STOP_WORK, 1,
       "find the same task ID, and the retry times(0) == 0 ,so do not add the new task(800),but "
       "add 1 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FakeSystem system;
    CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
    auto filed_task = CTaskFactory::createTask(&manager, TASK_TYPE_AUTH_MODULE);
    CTask* filed = filed_task.get();
    filed->iRetryTimes = c.filed_retry_times;
    manager.addTask(std::move(filed_task));
    auto duplicate = CTaskFactory::createTask(&manager, c.code);
    std::vector<std::string> lines;
    {
      LogCapture capture;
      EXPECT_TRUE(manager.addTask(std::move(duplicate)));
      lines = capture.Lines();
    }
    // No exit line on this path.
    EXPECT_THAT(lines, ElementsAreArray(ExpectedLog()
                                            .Enter(kAdd)
                                            .Info(EntryLine(2, 1))
                                            .Info(EqualPriorityLine(2, 1))
                                            .Info(c.message)
                                            .lines()));
    EXPECT_EQ(filed->iRetryTimes, c.retry_times_after);
    // The filed task is the only one: the duplicate was not filed.
    EXPECT_EQ(manager.getTask(), filed);
    EXPECT_TRUE(manager.popTask(filed));
    EXPECT_EQ(manager.getTask(), nullptr);
  }
}

TEST(CTaskManagerAddTaskTest, DuplicateIsJudgedByPriorityAndTypeIdOnly) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  std::atomic<int> destroyed{0};
  manager.addTask(Probe("CTaskFirst", 300, 1));
  // Another name and kind, same priority and type id: a duplicate.
  manager.addTask(Probe("CTaskOtherName", 300, 1, {}, &destroyed));
  EXPECT_EQ(destroyed.load(), 1);
  // Same type id at another priority: not a duplicate.
  manager.addTask(Probe("CTaskFirst", 300, 2, {}, &destroyed));
  EXPECT_EQ(destroyed.load(), 1);
  LogCapture capture;
  manager.printTaskList();
  EXPECT_THAT(
      capture.Lines(),
      ElementsAreArray(PrintedList({{1, "CTaskFirst", 10}, {2, "CTaskFirst", 10}}).lines()));
}

TEST(CTaskManagerAddTaskTest, EmptiedEntryStaysAndTakesTheNextTaskOfItsPriority) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  manager.addTask(CTaskFactory::createTask(&manager, TASK_TYPE_AUTH_MODULE));
  ASSERT_TRUE(manager.popTask(manager.getTask()));
  auto again = CTaskFactory::createTask(&manager, TASK_TYPE_AUTH_MODULE);
  LogCapture capture;
  EXPECT_TRUE(manager.addTask(std::move(again)));
  EXPECT_THAT(capture.Lines(), ElementsAreArray(ExpectedLog()
                                                    .Enter(kAdd)
                                                    .Info(EntryLine(2, 0))
                                                    .Info(EqualPriorityLine(2, 0))
                                                    .Info(NoSuchTypeLine(800))
                                                    .Info(PushBackLine(2, "CTaskAuthModule", 1))
                                                    .lines()));
}

// ---------------------------------------------------------------------------------------------
// getTask, popTask, clearSameProrityTask, printTaskList

TEST(CTaskManagerQueueTest, GetTaskSkipsEmptyEntriesAndLeavesTheTaskFiled) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  manager.addTask(Probe("CTaskGone", 100, 0));
  manager.popTask(manager.getTask());
  manager.addTask(Probe("CTaskA", 100, 2));
  manager.addTask(Probe("CTaskB", 200, 2));
  LogCapture capture;
  CTask* first = manager.getTask();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->getName(), "CTaskA");
  EXPECT_EQ(manager.getTask(), first);
  const ExpectedLog once = FoundTask({0}, 2, 2, "CTaskA");
  EXPECT_THAT(capture.Lines(), ElementsAreArray(ExpectedLog().Append(once).Append(once).lines()));
}

TEST(CTaskManagerQueueTest, GetTaskOnEmptyEntriesReturnsNull) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  {
    LogCapture capture;
    EXPECT_EQ(manager.getTask(), nullptr);  // no entry at all
    EXPECT_THAT(capture.Lines(), ElementsAreArray(ExpectedLog().Enter(kGet).Leave(kGet).lines()));
  }
  manager.addTask(Probe("CTaskA", 100, 1));
  manager.addTask(Probe("CTaskB", 100, 2));
  manager.popTask(manager.getTask());
  manager.popTask(manager.getTask());
  LogCapture capture;
  EXPECT_EQ(manager.getTask(), nullptr);
  EXPECT_THAT(capture.Lines(), ElementsAreArray(ExpectedLog()
                                                    .Enter(kGet)
                                                    .Info(FindEntryLine(1, 0))
                                                    .Info(FindEntryLine(2, 0))
                                                    .Leave(kGet)
                                                    .lines()));
}

TEST(CTaskManagerQueueTest, PopTaskRemovesOnlyThatVeryFiledTask) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  std::atomic<int> destroyed{0};
  auto first = Probe("CTaskSame", 100, 1, {}, &destroyed);
  auto second = Probe("CTaskSame", 200, 1, {}, &destroyed);
  CTask* second_ptr = second.get();
  manager.addTask(std::move(first));
  manager.addTask(std::move(second));
  ProbeTask stranger("CTaskSame", 100, 1);  // equal in every field, but not filed

  LogCapture capture;
  EXPECT_TRUE(manager.popTask(nullptr));
  EXPECT_FALSE(manager.popTask(&stranger));
  EXPECT_EQ(destroyed.load(), 0);
  EXPECT_TRUE(manager.popTask(second_ptr));
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_THAT(capture.Lines(),
              ElementsAreArray(
                  ExpectedLog()
                      .Enter(kPop)  // null: true, no exit line
                      .Enter(kPop)  // not filed: walked, false, exit line
                      .Info(FindEntryLine(1, 2))
                      .Leave(kPop)
                      .Enter(kPop)  // found: destroyed, the entry stays
                      .Info(FindEntryLine(1, 2))
                      .Info("find the same task,will delete the task CTaskSame(CTaskSame in list)")
                      .Info("after  delete task list size = 1")
                      .lines()));
  EXPECT_STREQ(manager.getTask()->getName(), "CTaskSame");
  EXPECT_EQ(manager.getTask()->getTypeId(), 100);
}

TEST(CTaskManagerQueueTest, ClearSameProrityTaskZeroesOneEntryAndChangesNothingForAnUnknownOne) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  auto high = Probe("CTaskHigh", 100, 0);
  auto low_a = Probe("CTaskLowA", 100, 2);
  auto low_b = Probe("CTaskLowB", 200, 2);
  low_b->iRetryTimes = 3;
  CTask* h = high.get();
  CTask* a = low_a.get();
  CTask* b = low_b.get();
  manager.addTask(std::move(high));
  manager.addTask(std::move(low_a));
  manager.addTask(std::move(low_b));

  struct Step {
    int priority;
    std::vector<std::string> lines;  // between the trace lines
    int high_after, low_a_after, low_b_after;
  };
  const Step steps[] = {
      {1, {EntryLine(0, 1), EntryLine(2, 2)}, 10, 10, 3},
      {-5, {EntryLine(0, 1), EntryLine(2, 2)}, 10, 10, 3},
      // A match stops the walk.
      {0,
       {EntryLine(0, 1), EqualPriorityLine(0, 1), "will clean retry times task[1] : CTaskHigh"},
       0,
       10,
       3},
      {2,
       {EntryLine(0, 1), EntryLine(2, 2), EqualPriorityLine(2, 2),
        "will clean retry times task[1] : CTaskLowA", "will clean retry times task[2] : CTaskLowB"},
       0,
       0,
       0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.priority);
    LogCapture capture;
    EXPECT_TRUE(manager.clearSameProrityTask(step.priority));
    ExpectedLog expected;
    expected.Enter(kClear);
    for (const std::string& line : step.lines) {
      expected.Info(line);
    }
    expected.Leave(kClear);
    EXPECT_THAT(capture.Lines(), ElementsAreArray(expected.lines()));
    EXPECT_EQ(h->iRetryTimes, step.high_after);
    EXPECT_EQ(a->iRetryTimes, step.low_a_after);
    EXPECT_EQ(b->iRetryTimes, step.low_b_after);
  }
}

TEST(CTaskManagerQueueTest, PrintTaskListNumbersAcrossEntries) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  manager.addTask(Probe("CTaskLowA", 100, 2));
  manager.addTask(Probe("CTaskHigh", 100, 0));
  auto medium = Probe("CTaskMedium", 100, 1);
  medium->iRetryTimes = 3;
  manager.addTask(std::move(medium));
  auto low_b = Probe("CTaskLowB", 200, 2);
  low_b->iRetryTimes = 0;
  manager.addTask(std::move(low_b));
  {
    LogCapture capture;
    manager.printTaskList();
    EXPECT_THAT(capture.Lines(), ElementsAreArray(PrintedList({{0, "CTaskHigh", 10},
                                                               {1, "CTaskMedium", 3},
                                                               {2, "CTaskLowA", 10},
                                                               {2, "CTaskLowB", 0}})
                                                      .lines()));
  }
  FakeSystem empty_system;
  CTaskManager empty(empty_system.Hooks(FakeSystem::Worker::kManual));
  LogCapture capture;
  empty.printTaskList();
  EXPECT_THAT(capture.Lines(), ElementsAreArray(PrintedList({}).lines()));
}

// ---------------------------------------------------------------------------------------------
// The worker loop

TEST(CTaskManagerWorkerTest, StopWorkTaskRunsOnceAndEndsTheWorker) {
  ManualWorker w;
  w.manager.addTask(CTaskFactory::createTask(&w.manager, TASK_TYPE_STOP_WORK));
  LogCapture capture;
  EXPECT_EQ(w.Run(), 0u);
  EXPECT_THAT(w.system.Journal(), ElementsAre("sleep 500"));
  EXPECT_THAT(
      capture.Lines(),
      ElementsAreArray(
          ExpectedLog()
              .Enter(kInit)
              .Leave(kInit)
              .Enter(kDeal)
              .Append(FoundTask({}, 2, 1, "CTaskStopWork"))
              .Append(PrintedList({{2, "CTaskStopWork", 10}}))
              .Enter("CTaskStopWork::doJob")
              .Leave("CTaskStopWork::doJob")
              .Info(DealLine("CTaskStopWork", "0.0000"))
              .Enter(kPop)
              .Info(FindEntryLine(2, 1))
              .Info("find the same task,will delete the task CTaskStopWork(CTaskStopWork in list)")
              .Info("after  delete task list size = 0")
              .Leave(kDeal)
              .lines()));
}

TEST(CTaskManagerWorkerTest, AuthTaskThatAlwaysAsksForRetryRunsTenTimesThenRestarts) {
  ManualWorker w;
  w.system.auth_job = [&](bool* retry) {
    w.system.Note("run");
    *retry = true;
    return false;
  };
  w.manager.addTask(CTaskFactory::createTask(&w.manager, TASK_TYPE_AUTH_MODULE));
  w.AddFinalStop();  // must never be reached: the worker ends at the give-up
  LogCapture capture;
  EXPECT_EQ(w.Run(), 1u);

  std::vector<std::string> journal;
  for (int i = 0; i < 10; ++i) {
    journal.insert(journal.end(), {"run", "sleep 5000"});
  }
  journal.push_back("restart");  // once, after the pause that follows the tenth run
  EXPECT_THAT(w.system.Journal(), ElementsAreArray(journal));

  const std::vector<std::string> lines = capture.Lines();
  std::vector<std::string> retry_lines;
  for (const std::string& line : lines) {
    if (line.rfind(" retry deal task", 0) == 0) {
      retry_lines.push_back(line);
    }
  }
  std::vector<std::string> expected_retry_lines;
  for (int left = 10; left >= 1; --left) {
    expected_retry_lines.push_back(
        StrPrintf(" retry deal task : CTaskAuthModule ,retry times(%d) ", left));
  }
  EXPECT_THAT(retry_lines, ElementsAreArray(expected_retry_lines));

  // The end of the log: the last pause, the pick with no run left, the restart, and no exit
  // line of the worker.
  const std::vector<std::string> tail =
      ExpectedLog()
          .Leave(kRetry)
          .Append(FoundTask({}, 2, 1, "CTaskAuthModule"))
          .Append(PrintedList({{2, "CTaskAuthModule", 0}, {9, "CTaskStopWork", 10}}))
          .Info("CommonUtil::RestartService();")
          .lines();
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_THAT(
      std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(tail.size()), lines.end()),
      ElementsAreArray(tail));
  // The given-up task stays filed.
  CTask* left = w.manager.getTask();
  ASSERT_NE(left, nullptr);
  EXPECT_STREQ(left->getName(), "CTaskAuthModule");
  EXPECT_EQ(left->iRetryTimes, 0);
}

TEST(CTaskManagerWorkerTest, RetryLineAndPauseComeInOrderForOneRetry) {
  ManualWorker w;
  int runs = 0;
  w.system.auth_job = [&](bool* retry) {
    *retry = ++runs == 1;
    return true;
  };
  w.manager.addTask(CTaskFactory::createTask(&w.manager, TASK_TYPE_AUTH_MODULE));
  w.AddFinalStop();
  LogCapture capture;
  EXPECT_EQ(w.Run(), 0u);
  EXPECT_EQ(runs, 2);
  EXPECT_THAT(w.system.Journal(), ElementsAre("sleep 5000", "sleep 500", "sleep 500"));
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_TRUE(
      HasRun(lines, ExpectedLog()
                        .Info(DealLine("CTaskAuthModule", "0.0000"))
                        .Enter(kRetry)
                        .Info("\r\n\r\n retry deal task : CTaskAuthModule ,retry times(10) \r\n")
                        .Leave(kRetry)
                        .Append(FoundTask({}, 2, 1, "CTaskAuthModule"))
                        .lines()));
}

TEST(CTaskManagerWorkerTest, MergeIntoAnExhaustedAuthTaskBuysExactlyOneMoreRun) {
  ManualWorker w;
  w.system.auth_job = [&](bool* retry) {
    w.system.Note("run");
    *retry = true;
    return false;
  };
  int pauses = 0;
  w.system.on_sleep = [&](std::uint32_t) {
    if (++pauses == 10) {  // the count is 0 now: a modem event arrives during the pause
      w.manager.addTask(CTaskFactory::createTask(&w.manager, TASK_TYPE_AUTH_MODULE));
    }
  };
  w.manager.addTask(CTaskFactory::createTask(&w.manager, TASK_TYPE_AUTH_MODULE));
  EXPECT_EQ(w.Run(), 1u);
  std::vector<std::string> journal;
  for (int i = 0; i < 11; ++i) {
    journal.insert(journal.end(), {"run", "sleep 5000"});
  }
  journal.push_back("restart");
  EXPECT_THAT(w.system.Journal(), ElementsAreArray(journal));
}

TEST(CTaskManagerWorkerTest, LowestPriorityValueFirstAndFirstComeWithinAPriority) {
  ManualWorker w;
  FakeSystem& s = w.system;
  int a_runs = 0;
  w.manager.addTask(Probe("CTaskA", 100, 2, [&](ProbeTask&, bool* retry) {
    s.Note("run CTaskA");
    *retry = ++a_runs == 1;  // asks for one retry
    return true;
  }));
  w.manager.addTask(Probe("CTaskB", 200, 0, Noting(s)));
  w.manager.addTask(Probe("CTaskC", 300, 1, Noting(s)));
  w.manager.addTask(Probe("CTaskD", 400, 0, Noting(s)));
  w.manager.addTask(Probe("CTaskE", 500, 2, Noting(s)));
  w.AddFinalStop();
  // A task of a higher priority filed during CTaskA's retry pause runs before CTaskA again.
  s.on_sleep = [&](std::uint32_t ms) {
    if (ms == CTaskManager::kRetryPauseMs) {
      w.manager.addTask(Probe("CTaskF", 600, 0, Noting(s)));
    }
  };
  EXPECT_EQ(w.Run(), 0u);
  EXPECT_THAT(s.Journal(),
              ElementsAre("run CTaskB", "sleep 500", "run CTaskD", "sleep 500", "run CTaskC",
                          "sleep 500", "run CTaskA", "sleep 5000", "run CTaskF", "sleep 500",
                          "run CTaskA", "sleep 500", "run CTaskE", "sleep 500", "sleep 500"));
}

TEST(CTaskManagerWorkerTest, CastTimeIsTheJobsOwnElapsedClockInSeconds) {
  struct Case {
    const char* name;
    std::uint64_t elapsed_ms;
    const char* seconds;
  };
  const Case cases[] = {{"CTaskT0", 0, "0.0000"},
                        {"CTaskT1", 5, "0.0050"},
                        {"CTaskT2", 1234, "1.2340"},
                        {"CTaskT3", 61000, "61.0000"}};
  ManualWorker w;
  int type_id = 100;
  for (const Case& c : cases) {
    w.manager.addTask(Probe(c.name, type_id++, 0, [&w, c](ProbeTask&, bool*) {
      w.system.Advance(c.elapsed_ms);
      return true;
    }));
  }
  w.AddFinalStop();
  LogCapture capture;
  EXPECT_EQ(w.Run(), 0u);
  const std::vector<std::string> lines = capture.Lines();
  for (const Case& c : cases) {
    EXPECT_THAT(lines, Contains(StrPrintf(" Deal Task %s Cast Time %ss", c.name, c.seconds)));
  }
}

// The give-up policy is the hooks': the worker asks it with the task's name and applies the
// action it answers (the service's choice by name is tested with the service).
TEST(CTaskManagerWorkerTest, GiveUpAppliesThePolicysActionForTheTasksName) {
  enum class Action { kRestart, kClearPriority, kRemove };
  struct Case {
    const char* name;
    Action action;
    bool bound;  // whether the manager has a policy at all
  };
  const Case cases[] = {
      {"CTaskAuthModule", Action::kRestart, true},
      {"CTaskUnzipFirmware", Action::kClearPriority, true},
      {"CTaskCheckStatus", Action::kRemove, true},
      {"CTaskAuthModule", Action::kRemove, false},  // without a policy every task is given up
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> destroyed{0};  // outlives the manager, which destroys what stays filed
    std::vector<std::string> asked;
    FakeSystem system;
    if (c.bound) {
      system.give_up = [&](const char* name) {
        asked.emplace_back(name);
        if (std::string(name) != c.name) {
          return GiveUpAction::kGiveUp;
        }
        return c.action == Action::kRestart         ? GiveUpAction::kRestartService
               : c.action == Action::kClearPriority ? GiveUpAction::kClearSamePriority
                                                    : GiveUpAction::kGiveUp;
      };
    }
    TaskManagerHooks hooks = system.Hooks(FakeSystem::Worker::kManual);
    if (!c.bound) {
      hooks.giveUpPolicy = nullptr;
    }
    ManualWorker w(std::move(hooks));
    auto exhausted = Probe(c.name, 400, 1, Noting(system), &destroyed);
    exhausted->iRetryTimes = 0;
    w.manager.addTask(std::move(exhausted));
    w.manager.addTask(Probe("CTaskSibling", 500, 1, Noting(system)));
    w.AddFinalStop(2);
    LogCapture capture;
    const unsigned result = w.Run();
    const std::vector<std::string> lines = capture.Lines();
    const std::vector<std::string> journal = system.Journal();
    EXPECT_THAT(journal, Not(Contains(std::string("run ") + c.name)));  // never run again
    if (c.bound) {
      ASSERT_FALSE(asked.empty());
      EXPECT_EQ(asked.front(), c.name);
    }
    switch (c.action) {
      case Action::kRestart:
        EXPECT_EQ(result, 1u);
        EXPECT_THAT(journal, ElementsAre("restart"));
        EXPECT_EQ(lines.back(), "T i :   CommonUtil::RestartService();");
        EXPECT_EQ(destroyed.load(), 0);  // stays filed
        break;
      case Action::kClearPriority: {
        EXPECT_EQ(result, 0u);
        // The sibling lost its runs and is given up without running.
        EXPECT_THAT(journal, ElementsAre("sleep 500"));
        EXPECT_EQ(destroyed.load(), 1);
        const std::string give_up = StrPrintf(
            "\r\n\r\n deal task : %s ,retry times(0) <=0 ,will clear same Priority Task \r\n",
            c.name);
        const ExpectedLog expected =
            ExpectedLog()
                .Info(give_up)
                .Enter(kClear)
                .Info(EntryLine(1, 2))
                .Info(EqualPriorityLine(1, 2))
                .Info(StrPrintf("will clean retry times task[1] : %s", c.name))
                .Info("will clean retry times task[2] : CTaskSibling")
                .Leave(kClear)
                // removed without popTask's lines
                .Append(FoundTask({}, 1, 1, "CTaskSibling"))
                .Append(PrintedList({{1, "CTaskSibling", 0}, {2, "CTaskStopWork", 10}}))
                .Info(
                    "\r\n\r\n deal task : CTaskSibling ,retry times(0) <=0 ,give up the Task \r\n");
        EXPECT_TRUE(HasRun(lines, expected.lines()));
        break;
      }
      case Action::kRemove: {
        EXPECT_EQ(result, 0u);
        EXPECT_THAT(journal, ElementsAre("run CTaskSibling", "sleep 500", "sleep 500"));
        EXPECT_EQ(destroyed.load(), 1);
        const ExpectedLog expected =
            ExpectedLog()
                .Info(StrPrintf(
                    "\r\n\r\n deal task : %s ,retry times(0) <=0 ,give up the Task \r\n", c.name))
                .Enter(kPop)
                .Info(FindEntryLine(1, 2))
                .Info(StrPrintf("find the same task,will delete the task %s(%s in list)", c.name,
                                c.name))
                .Info("after  delete task list size = 1");
        EXPECT_TRUE(HasRun(lines, expected.lines()));
        break;
      }
    }
  }
}

TEST(CTaskManagerWorkerTest, WithoutAManagerTheWorkerEndsWithOne) {
  LogCapture capture;
  EXPECT_EQ(CTaskManager::dealTaskThread(nullptr), 1u);
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CTaskManager::dealTaskThread"));
}

TEST(CTaskManagerWorkerTest, InitReportsAWorkerThatCannotStartAndStartsAtMostOne) {
  struct Case {
    std::uint32_t error;
    std::vector<std::string> first_init;
  };
  const Case cases[] = {
      {0, ExpectedLog().Enter(kInit).Leave(kInit).lines()},
      {8, ExpectedLog()
              .Enter(kInit)
              .Info("Create task deal thread failed, errcode(0x8).\r\n")
              .Leave(kInit)
              .lines()},
      {1455, ExpectedLog()
                 .Enter(kInit)
                 .Info("Create task deal thread failed, errcode(0x5af).\r\n")
                 .Leave(kInit)
                 .lines()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    FakeSystem system;
    system.start_error = c.error;
    CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
    std::vector<std::string> lines;
    {
      LogCapture capture;
      manager.init();
      lines = capture.Lines();
    }
    EXPECT_THAT(lines, ElementsAreArray(c.first_init));
    LogCapture capture;
    manager.init();  // a second call starts nothing
    EXPECT_THAT(capture.Lines(), ElementsAreArray(ExpectedLog().Enter(kInit).Leave(kInit).lines()));
    EXPECT_EQ(system.thread_starts.load(), 1);
  }
}

// ---------------------------------------------------------------------------------------------
// With a real worker thread

TEST(CTaskManagerThreadTest, IdleWorkerIsWokenByAddTask) {
  // A hang guard, never a speed goal: a worker that is not woken fails here instead of at
  // ctest's timeout.
  constexpr auto kHangGuard = std::chrono::seconds(60);
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kThread));
  std::promise<void> first_ran;
  std::promise<void> second_ran;
  std::future<void> first = first_ran.get_future();
  std::future<void> second = second_ran.get_future();
  manager.addTask(Probe("CTaskFirst", 100, 0, [&](ProbeTask&, bool*) {
    first_ran.set_value();
    return true;
  }));
  manager.init();
  ASSERT_EQ(first.wait_for(kHangGuard), std::future_status::ready) << "the first task never ran";
  // Once the worker has removed the first task it finds every entry empty and goes to wait;
  // whether or not it has got there, the next task must be run.
  while (manager.getTask() != nullptr) {
    std::this_thread::yield();
  }
  manager.addTask(Probe("CTaskSecond", 100, 0, [&](ProbeTask&, bool*) {
    second_ran.set_value();
    return true;
  }));
  EXPECT_EQ(second.wait_for(kHangGuard), std::future_status::ready)
      << "the idle worker was not woken by addTask";
  // The destructor ends the idle worker.
}

TEST(CTaskManagerStressTest, ConcurrentAddersWhileTheWorkerRuns) {
  LogCapture capture;
  FakeSystem system;
  std::atomic<int> in_flight{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> auth_runs{0};
  std::atomic<int> probes_made{0};
  std::atomic<int> probes_destroyed{0};
  auto enter_job = [&] {
    if (in_flight.fetch_add(1) != 0) {
      ++overlaps;
    }
  };
  // Never ten retries in a row: an authorisation task is never given up here.
  system.auth_job = [&](bool* retry) {
    enter_job();
    *retry = ++auth_runs % 3 == 0;
    --in_flight;
    return true;
  };
  const ProbeTask::Job probe_job = [&](ProbeTask& self, bool* retry) {
    enter_job();
    *retry = self.runs < 3;  // two retries each
    --in_flight;
    return true;
  };
  {
    CTaskManager manager(system.Hooks(FakeSystem::Worker::kThread));
    manager.init();
    constexpr int kThreads = 4;
    constexpr int kTasksPerThread = 150;
    std::atomic<bool> adding{true};
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; ++t) {
      adders.emplace_back([&, t] {
        for (int i = 0; i < kTasksPerThread; ++i) {
          switch ((i + t) % 4) {
            case 0:
              manager.addTask(CTaskFactory::createTask(&manager, TASK_TYPE_AUTH_MODULE));
              break;
            case 1:  // without an owner it stops nothing
              manager.addTask(CTaskFactory::createTask(nullptr, TASK_TYPE_STOP_WORK));
              break;
            case 2:
              ++probes_made;
              manager.addTask(
                  Probe("CTaskProbe", 100 * (1 + i % 7), i % 3, probe_job, &probes_destroyed));
              break;
            default: {
              // Given up at once; clears its priority (never 2, where the authorisation task is).
              ++probes_made;
              auto unzip = Probe("CTaskUnzipFirmware", TASK_TYPE_ID_UNZIP_FIRMWARE, i % 2,
                                 probe_job, &probes_destroyed);
              unzip->iRetryTimes = 0;
              manager.addTask(std::move(unzip));
            }
          }
        }
      });
    }
    std::thread reader([&] {
      while (adding) {
        manager.printTaskList();
      }
    });
    for (auto& adder : adders) {
      adder.join();
    }

    // The worker reaches a task of a priority of its own only when every other is done.
    std::promise<bool> alone;
    std::promise<int> destroyed_then;
    auto last = Probe("CTaskLast", 100, 100, [&](ProbeTask& self, bool*) {
      alone.set_value(self.pOwner->getTask() == &self);
      destroyed_then.set_value(probes_destroyed.load());
      self.pOwner->clearRunFlag();
      return true;
    });
    last->pOwner = &manager;
    manager.addTask(std::move(last));
    EXPECT_TRUE(alone.get_future().get());
    EXPECT_EQ(destroyed_then.get_future().get(), probes_made.load());
    adding = false;
    reader.join();
  }
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_THAT(system.Journal(), Not(Contains("restart")));
  EXPECT_THAT(capture.Lines(), Not(IsEmpty()));
}

}  // namespace
}  // namespace halvorn
