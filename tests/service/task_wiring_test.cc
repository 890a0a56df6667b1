// The service's queueing of an authorisation task, over a real task manager without a worker.

#include "service/task_wiring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "tasks/task_manager.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using testing::LogCapture;

// A manager without a worker: filed tasks stay where the test can see them.
TaskManagerHooks NoWorkerHooks() {
  TaskManagerHooks hooks;
  hooks.startThread = [](std::function<void()>, std::thread*) -> std::uint32_t { return 0; };
  return hooks;
}

TEST(QueueAuthModuleTaskTest, FilesAnAuthorisationTaskOwnedByTheManagerItIsGiven) {
  CTaskManager manager(NoWorkerHooks());
  int asked = 0;
  const std::function<void()> added = QueueAuthModuleTaskOn([&] {
    ++asked;
    return &manager;
  });
  LogCapture capture;
  added();
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(asked, 1);
  CTask* task = manager.getTask();
  ASSERT_NE(task, nullptr);
  EXPECT_STREQ(task->getName(), "CTaskAuthModule");
  EXPECT_EQ(task->pOwner, &manager);
  EXPECT_EQ(task->iRetryTimes, 10);
  // The factory's lines, then addTask's.
  ASSERT_GE(lines.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 3),
              ElementsAre("T h : + CTaskFactory::createTask",
                          "T i :   CTaskFactory createTask TASK_TYPE_AUTH_MODULE",
                          "T h : + CTaskManager::addTask"));
  added();  // a second account: merged into the filed task
  EXPECT_TRUE(manager.popTask(task));
  EXPECT_EQ(manager.getTask(), nullptr);
}

TEST(QueueAuthModuleTaskTest, WithoutAManagerNothingIsMadeOrLogged) {
  for (std::function<CTaskManager*()> manager :
       {std::function<CTaskManager*()>(),
        std::function<CTaskManager*()>([] { return static_cast<CTaskManager*>(nullptr); })}) {
    LogCapture capture;
    QueueAuthModuleTaskOn(std::move(manager))();
    EXPECT_TRUE(capture.Lines().empty());
  }
}

}  // namespace
}  // namespace halvorn
