#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_runtime.h"
#include "mbn/mbn_helper.h"
#include "service/task_wiring.h"
#include "support/log_capture.h"
#include "tasks/task.h"
#include "tasks/task_manager.h"

namespace halvorn {
namespace {

using mbn_platform::WatcherStatus;
using ::testing::ElementsAre;
using testing::FakeRuntime;
using testing::LogCapture;

// A manager without a worker: filed tasks stay where the test can see them.
TaskManagerHooks NoWorkerHooks() {
  TaskManagerHooks hooks;
  hooks.startThread = [](std::function<void()>, std::thread*) -> std::uint32_t { return 0; };
  return hooks;
}

class AccountWatcherTest : public ::testing::Test {
 protected:
  FakeRuntime runtime_;
  CTaskManager manager_{NoWorkerHooks()};
  CMbnWinRtHelper helper_{runtime_, QueueAuthModuleTaskOn([this] { return &manager_; })};
};

TEST_F(AccountWatcherTest, InitRegistersThreeHandlersOnceAndStartStartsTheWatcher) {
  LogCapture capture;
  helper_.Init();
  helper_.StartMobileBroadbandAccountWatcher();
  helper_.Init();  // no second watcher, no second registration
  helper_.StartMobileBroadbandAccountWatcher();
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T h : + CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T i :   event add token = 1\n",                                //
                          "T i :   event remove token = 2\n",                             //
                          "T i :   event enum token = -3\n",                              //
                          "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is started successfully.",                     //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T h : + CMbnWinRtHelper::Init",                                //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is already started.",                          //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"));
  // The constructor's first watcher plus the one Init made; only the latter is started.
  ASSERT_EQ(runtime_.watchers.size(), 2u);
  EXPECT_EQ(runtime_.watchers[0]->starts, 0);
  EXPECT_EQ(runtime_.watchers[1]->starts, 1);
}

struct StartCase {
  WatcherStatus status;
  bool fail_status;
  bool fail_start;
  const char* line;
  int starts;
  int status_reads;
};

TEST_F(AccountWatcherTest, StartDependsOnTheWatcherStatus) {
  const StartCase cases[] = {
      {WatcherStatus::kCreated, false, false, "T i :   Watcher is started successfully.", 1, 2},
      {WatcherStatus::kStarted, false, false, "T i :   Watcher is already started.", 0, 1},
      {WatcherStatus::kEnumerationCompleted, false, false, "T i :   Watcher is already started.", 0,
       2},
      {WatcherStatus::kStopped, false, false, "T i :   Watcher is started successfully.", 1, 2},
      {WatcherStatus::kAborted, false, false, "T i :   Watcher is started successfully.", 1, 2},
      {WatcherStatus::kCreated, true, false, "T i :   exception : status unavailable", 0, 1},
      {WatcherStatus::kCreated, false, true, "T i :   exception other", 0, 2},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.status));
    FakeRuntime runtime;
    CMbnWinRtHelper helper(runtime, nullptr);
    helper.Init();
    auto& state = *runtime.watchers.back();
    state.status = c.status;
    state.fail_status = c.fail_status;
    state.fail_start = c.fail_start;
    LogCapture capture;
    helper.StartMobileBroadbandAccountWatcher();
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], c.line);
    EXPECT_EQ(state.starts, c.starts);
    EXPECT_EQ(state.status_reads, c.status_reads);
  }
}

TEST_F(AccountWatcherTest, NoWatcherIsReportedAndTheServiceGoesOn) {
  runtime_.fail_create_watcher = true;
  LogCapture capture;
  helper_.Init();
  helper_.StartMobileBroadbandAccountWatcher();
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T h : + CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T i :   exception other",                                      //
                          "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is not available.",                            //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"));
}

TEST_F(AccountWatcherTest, AnAddedAccountQueuesOneAuthorisationTask) {
  helper_.Init();
  helper_.StartMobileBroadbandAccountWatcher();
  auto& state = *runtime_.watchers.back();
  LogCapture capture;
  state.removed();
  state.enumerated();
  EXPECT_EQ(manager_.getTask(), nullptr);  // neither queues anything
  state.added();
  CTask* task = manager_.getTask();
  ASSERT_NE(task, nullptr);
  EXPECT_STREQ(task->getName(), "CTaskAuthModule");
  state.added();  // a second account: merged into the filed task
  EXPECT_TRUE(manager_.popTask(task));
  EXPECT_EQ(manager_.getTask(), nullptr);
  auto lines = capture.Lines();
  EXPECT_EQ(lines[0], "T h : + CMbnWinRtHelper::AccountRemovedHandler");
  EXPECT_EQ(lines[1], "T h : - CMbnWinRtHelper::AccountRemovedHandler");
  EXPECT_EQ(lines[2], "T h : + CMbnWinRtHelper::AccountEnumHandler");
  EXPECT_EQ(lines[3], "T h : - CMbnWinRtHelper::AccountEnumHandler");
}

}  // namespace
}  // namespace halvorn
