#include "tasks/task.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "support/log_capture.h"
#include "task_test_support.h"
#include "tasks/task_factory.h"
#include "tasks/task_kinds.h"
#include "tasks/task_manager.h"

namespace halvorn {
namespace {

using ::testing::ElementsAreArray;
using testing::ExpectedLog;
using ::testing::IsEmpty;
using testing::LogCapture;

constexpr const char* kFactoryTag = "CTaskFactory::createTask";

TEST(CTaskFactoryTest, EachKnownCodeMakesItsKindWithTheBaseDefaults) {
  struct Case {
    std::int32_t code;
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {TASK_TYPE_AUTH_MODULE, "CTaskAuthModule", "CTaskFactory createTask TASK_TYPE_AUTH_MODULE"},
      {TASK_TYPE_STOP_WORK, "CTaskStopWork", "CTaskFactory createTask TASK_TYPE_STOP_WORK"},
  };
  CTaskManager owner{TaskManagerHooks{}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture capture;
    std::unique_ptr<CTask> task = CTaskFactory::createTask(&owner, c.code);
    ASSERT_NE(task, nullptr);
    EXPECT_STREQ(task->getName(), c.name);
    EXPECT_EQ(task->getTypeId(), TASK_TYPE_ID_AUTH_MODULE);
    EXPECT_EQ(task->pOwner, &owner);
    EXPECT_FALSE(task->bRunning);
    EXPECT_EQ(task->iRetryTimes, 10);
    EXPECT_EQ(task->iPriority, TASK_PRIORITY_LOW);
    if (c.code == TASK_TYPE_AUTH_MODULE) {
      EXPECT_NE(dynamic_cast<CTaskAuthModule*>(task.get()), nullptr);
    } else {
      EXPECT_NE(dynamic_cast<CTaskStopWork*>(task.get()), nullptr);
    }
    // A made task returns without the exit line.
    EXPECT_THAT(capture.Lines(),
                ElementsAreArray(ExpectedLog().Enter(kFactoryTag).Info(c.message).lines()));
  }
}

TEST(CTaskFactoryTest, UnknownCodesGiveNoTaskAndOnlyTheTraceLines) {
  for (std::int32_t code : {2, -1, 800, std::numeric_limits<std::int32_t>::min()}) {
    SCOPED_TRACE(code);
    LogCapture capture;
    EXPECT_EQ(CTaskFactory::createTask(nullptr, code), nullptr);
    EXPECT_THAT(capture.Lines(),
                ElementsAreArray(ExpectedLog().Enter(kFactoryTag).Leave(kFactoryTag).lines()));
  }
}

TEST(CTaskStopWorkTest, WithoutOwnerFinishesAndClearsTheRetryFlag) {
  CTaskStopWork task;
  LogCapture capture;
  bool retry = true;  // the job itself must leave it false
  EXPECT_TRUE(task.doJob(&retry));
  EXPECT_FALSE(retry);
  EXPECT_FALSE(task.bRunning);
  EXPECT_EQ(task.iRetryTimes, 10);
  EXPECT_THAT(
      capture.Lines(),
      ElementsAreArray(
          ExpectedLog().Enter("CTaskStopWork::doJob").Leave("CTaskStopWork::doJob").lines()));
}

// An owner whose authorisation tasks run `job`.
TaskManagerHooks WithJob(AuthModuleJob job) {
  TaskManagerHooks hooks;
  hooks.authModuleJob = std::move(job);
  return hooks;
}

TEST(CTaskAuthModuleTest, NotWiredJobCouldNotBeginAsksNoRetryAndLogsNothing) {
  CTaskManager no_job{TaskManagerHooks{}};
  CTaskManager owner{WithJob([](bool* retry) {
    *retry = true;
    return true;
  })};
  // Without an owner, with an owner that has no job, and with no retry flag to write.
  struct Case {
    CTaskManager* owner;
    bool with_flag;
  };
  for (const Case& c : {Case{nullptr, true}, Case{&no_job, true}, Case{&owner, false}}) {
    CTaskAuthModule task;
    task.pOwner = c.owner;
    LogCapture capture;
    bool retry = false;
    EXPECT_FALSE(task.doJob(c.with_flag ? &retry : nullptr));
    EXPECT_FALSE(retry);
    EXPECT_FALSE(task.bRunning);
    EXPECT_THAT(capture.Lines(), IsEmpty());
  }
}

TEST(CTaskAuthModuleTest, RunsItsOwnersJobWhileMarkedRunningAndPassesItsAnswersOn) {
  struct Case {
    bool asks_retry;
    bool result;
  };
  const Case cases[] = {{false, true}, {true, true}, {true, false}, {false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "retry " << c.asks_retry << " result " << c.result);
    CTaskAuthModule task;
    int calls = 0;
    CTaskManager owner{WithJob([&](bool* retry) {
      ++calls;
      EXPECT_TRUE(task.bRunning);
      if (c.asks_retry) {
        *retry = true;
      }
      return c.result;
    })};
    task.pOwner = &owner;
    bool retry = false;
    EXPECT_EQ(task.doJob(&retry), c.result);
    EXPECT_EQ(retry, c.asks_retry);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(task.bRunning);
  }
}

TEST(CTaskAuthModuleTest, RunningFlagIsClearedWhenTheJobThrows) {
  CTaskAuthModule task;
  CTaskManager owner{WithJob([](bool*) -> bool { throw std::runtime_error("runtime error"); })};
  task.pOwner = &owner;
  bool retry = false;
  EXPECT_THROW(task.doJob(&retry), std::runtime_error);
  EXPECT_FALSE(task.bRunning);
}

}  // namespace
}  // namespace halvorn
