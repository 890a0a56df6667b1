// The service's give-up policy and its queueing of an authorisation task, each over a real
// task manager whose clock, pauses, restart and worker are the test's.

#include "service/task_wiring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "tasks/task_factory.h"
#include "tasks/task_manager.h"
#include "tasks/task_test_support.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using testing::FakeSystem;
using testing::LogCapture;
using testing::ProbeTask;

TEST(GiveUpPolicyTest, IsChosenByNameWithoutRegardToCase) {
  struct Case {
    const char* name;
    GiveUpAction action;
  };
  const Case cases[] = {
      {"CTaskAuthModule", GiveUpAction::kRestartService},
      {"ctaskAUTHmodule", GiveUpAction::kRestartService},
      {"CTaskUnzipFirmware", GiveUpAction::kClearSamePriority},
      {"CTASKUNZIPFIRMWARE", GiveUpAction::kClearSamePriority},
      {"CTaskAuthModuleX", GiveUpAction::kGiveUp},
      {"CTaskAuthModul", GiveUpAction::kGiveUp},
      {"CTaskCheckStatus", GiveUpAction::kGiveUp},
      {"", GiveUpAction::kGiveUp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GiveUpActionFor(c.name), c.action);
  }
}

// The policy bound into a manager: an exhausted task of each name is given up as its action
// says (the engine's tests check each action's lines).
TEST(GiveUpPolicyTest, ManagerGivesUpByThePolicysChoice) {
  struct Case {
    const char* name;
    unsigned worker_result;
    std::vector<std::string> journal;
    int destroyed;
  };
  const Case cases[] = {
      {"ctaskAUTHmodule", 1u, {"restart"}, 0},       // stays filed
      {"CTASKUNZIPFIRMWARE", 0u, {"sleep 500"}, 1},  // the sibling lost its runs
      {"CTaskAuthModuleX", 0u, {"run CTaskSibling", "sleep 500", "sleep 500"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> destroyed{0};  // outlives the manager, which destroys what stays filed
    FakeSystem system;
    system.give_up = &GiveUpActionFor;
    CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
    const ProbeTask::Job noting = [&system](ProbeTask& self, bool*) {
      system.Note(std::string("run ") + self.getName());
      return true;
    };
    auto exhausted = std::make_unique<ProbeTask>(c.name, 400, 1, noting, &destroyed);
    exhausted->iRetryTimes = 0;
    manager.addTask(std::move(exhausted));
    manager.addTask(std::make_unique<ProbeTask>("CTaskSibling", 500, 1, noting));
    auto stop = CTaskFactory::createTask(&manager, TASK_TYPE_STOP_WORK);
    stop->iPriority = 2;
    manager.addTask(std::move(stop));
    manager.init();
    EXPECT_EQ(CTaskManager::dealTaskThread(&manager), c.worker_result);
    EXPECT_EQ(system.Journal(), c.journal);
    EXPECT_EQ(destroyed.load(), c.destroyed);
  }
}

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
