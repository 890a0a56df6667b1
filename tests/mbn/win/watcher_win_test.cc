// The account watcher through the real Windows backend, against the fake provider: events on
// the provider's threads queue authorisation tasks into a task manager without a worker.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fake_provider_client.h"
#include "mbn/mbn_helper.h"
#include "mbn/win/runtime_win.h"
#include "service/task_wiring.h"
#include "support/log_capture.h"
#include "tasks/task.h"
#include "tasks/task_manager.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using testing::FakeProvider;
using testing::LogCapture;

// A manager without a worker: filed tasks stay where the test can see them.
TaskManagerHooks NoWorkerHooks() {
  TaskManagerHooks hooks;
  hooks.startThread = [](std::function<void()>, std::thread*) -> std::uint32_t { return 0; };
  return hooks;
}

// The lines of the three event handlers, in the order they were written.
std::vector<std::string> HandlerLines(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    if (line.find("Handler") != std::string::npos) {
      out.push_back(line);
    }
  }
  return out;
}

// The lines of Init and Start alone: their trace lines and their messages. The event
// handlers run on the provider's threads and interleave, as do the task engine's lines.
std::vector<std::string> HelperLines(const std::vector<std::string>& lines) {
  static const char* const kHelperTexts[] = {
      "T h : + CMbnWinRtHelper::Init",
      "T h : - CMbnWinRtHelper::Init",
      "T h : + CMbnWinRtHelper::Start",
      "T h : - CMbnWinRtHelper::Start",
      "T i :   event ",
      "T i :   Watcher ",
      "T i :   exception",
  };
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    for (const char* text : kHelperTexts) {
      if (line.starts_with(text)) {
        out.push_back(line);
        break;
      }
    }
  }
  return out;
}

class WatcherWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    provider_ = FakeProvider::Get();
    ASSERT_NE(provider_, nullptr);
  }

  void Start(const FakeScript& script) {
    provider_->Reset(script);
    runtime_ = mbn_win::CreateWinRuntime();
    helper_ = std::make_unique<CMbnWinRtHelper>(
        *runtime_, QueueAuthModuleTaskOn([this] { return &manager_; }));
  }

  // Init and start as the task manager's constructor does, then let the provider's threads
  // finish.
  void InitAndStart() {
    helper_->Init();
    helper_->StartMobileBroadbandAccountWatcher();
    provider_->WaitIdle();
  }

  // Number of tasks filed.
  int FiledTasks() {
    int n = 0;
    while (CTask* task = manager_.getTask()) {
      EXPECT_STREQ(task->getName(), "CTaskAuthModule");
      EXPECT_TRUE(manager_.popTask(task));
      ++n;
    }
    return n;
  }

  void ExpectAllReleased() {
    provider_->WaitIdle();
    helper_.reset();
    runtime_.reset();
    const FakeRecord record = provider_->Record();
    EXPECT_EQ(record.objects_alive, 0);
    EXPECT_EQ(record.factories_alive, 0);
  }

  FakeProvider* provider_ = nullptr;
  CTaskManager manager_{NoWorkerHooks()};
  std::unique_ptr<mbn_platform::Runtime> runtime_;
  std::unique_ptr<CMbnWinRtHelper> helper_;
};

TEST_F(WatcherWinTest, AccountPresentAtStartQueuesATaskThenEnumerationEnds) {
  FakeScript script = provider_->DefaultScript();
  script.accounts_at_start = 1;
  Start(script);
  LogCapture capture;
  InitAndStart();
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_THAT(HelperLines(lines),
              ElementsAre("T h : + CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T i :   event add token = 1\n",                                //
                          "T i :   event remove token = 2\n",                             //
                          "T i :   event enum token = 3\n",                               //
                          "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is started successfully.",                     //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"));
  // The present account first, then the end of the enumeration.
  EXPECT_THAT(HandlerLines(lines),
              ElementsAre("T h : + CMbnWinRtHelper::AccountAddedHandler",  //
                          "T h : - CMbnWinRtHelper::AccountAddedHandler",  //
                          "T h : + CMbnWinRtHelper::AccountEnumHandler",   //
                          "T h : - CMbnWinRtHelper::AccountEnumHandler"));
  EXPECT_EQ(FiledTasks(), 1);

  const FakeRecord record = provider_->Record();
  EXPECT_EQ(record.activations[kClassAccountWatcher], 2);  // the helper's first, then Init's
  EXPECT_EQ(record.watcher_starts, 1);
  EXPECT_EQ(record.handlers_registered, 3);
  EXPECT_EQ(record.bad_handler, 0);  // each handler answered its documented interface id
  EXPECT_EQ(record.events_delivered, 2);
  ExpectAllReleased();
}

TEST_F(WatcherWinTest, NoAccountAtStartOnlyEndsTheEnumeration) {
  Start(provider_->DefaultScript());
  LogCapture capture;
  InitAndStart();
  EXPECT_THAT(HandlerLines(capture.Lines()),
              ElementsAre("T h : + CMbnWinRtHelper::AccountEnumHandler",  //
                          "T h : - CMbnWinRtHelper::AccountEnumHandler"));
  EXPECT_EQ(FiledTasks(), 0);
  ExpectAllReleased();
}

TEST_F(WatcherWinTest, AccountsAddedAndRemovedLater) {
  Start(provider_->DefaultScript());
  InitAndStart();
  {
    LogCapture capture;
    provider_->RaiseAccountEvent(false);
    EXPECT_THAT(HandlerLines(capture.Lines()),
                ElementsAre("T h : + CMbnWinRtHelper::AccountRemovedHandler",  //
                            "T h : - CMbnWinRtHelper::AccountRemovedHandler"));
    EXPECT_EQ(FiledTasks(), 0);
  }
  provider_->RaiseAccountEvent(true);
  EXPECT_EQ(FiledTasks(), 1);
  // Two accounts while one task is filed: the second is merged into it.
  provider_->RaiseAccountEvent(true);
  provider_->RaiseAccountEvent(true);
  EXPECT_EQ(FiledTasks(), 1);
  ExpectAllReleased();
}

TEST_F(WatcherWinTest, SecondInitRegistersNothingAndStartSeesTheRunningWatcher) {
  Start(provider_->DefaultScript());
  InitAndStart();
  LogCapture capture;
  helper_->Init();
  helper_->StartMobileBroadbandAccountWatcher();
  provider_->WaitIdle();
  EXPECT_THAT(HelperLines(capture.Lines()),
              ElementsAre("T h : + CMbnWinRtHelper::Init",                                //
                          "T h : - CMbnWinRtHelper::Init",                                //
                          "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
                          "T i :   Watcher is already started.",                          //
                          "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"));
  const FakeRecord record = provider_->Record();
  EXPECT_EQ(record.activations[kClassAccountWatcher], 2);
  EXPECT_EQ(record.handlers_registered, 3);
  EXPECT_EQ(record.watcher_starts, 1);
  ExpectAllReleased();
}

// Failures of the runtime on the watcher's path; `lines` are the helper's own lines.
struct WatcherFailure {
  const char* name;
  FakeFailPoint at;
  HRESULT hr;
  std::vector<std::string> lines;
  int starts;
};

void PrintTo(const WatcherFailure& failure, std::ostream* os) {
  *os << failure.name;
}

const WatcherFailure kWatcherFailures[] = {
    {"NoWatcher",
     kFailActivateWatcher,
     E_OUTOFMEMORY,
     {"T h : + CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T i :   exception : bad allocation",                           //
      "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T h : - CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
      "T i :   Watcher is not available.",                            //
      "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"},
     0},
    {"AddedHandlerRefused",
     kFailAddAccountAdded,
     E_FAIL,
     {"T h : + CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T i :   exception other",                                      //
      "T i :   event remove token = 1\n",                             //
      "T i :   event enum token = 2\n",                               //
      "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T h : - CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
      "T i :   Watcher is started successfully.",                     //
      "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"},
     1},
    {"StatusUnreadable",
     kFailGetStatus,
     E_FAIL,
     {"T h : + CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T i :   event add token = 1\n",                                //
      "T i :   event remove token = 2\n",                             //
      "T i :   event enum token = 3\n",                               //
      "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T h : - CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
      "T i :   exception other",                                      //
      "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"},
     0},
    {"StartFails",
     kFailStart,
     E_OUTOFMEMORY,
     {"T h : + CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T i :   event add token = 1\n",                                //
      "T i :   event remove token = 2\n",                             //
      "T i :   event enum token = 3\n",                               //
      "T h : - CMbnWinRtHelper::InitMobileBroadbandAccountWatcher",   //
      "T h : - CMbnWinRtHelper::Init",                                //
      "T h : + CMbnWinRtHelper::StartMobileBroadbandAccountWatcher",  //
      "T i :   exception : bad allocation",                           //
      "T h : - CMbnWinRtHelper::StartMobileBroadbandAccountWatcher"},
     0},
};

class WatcherFailureTest : public WatcherWinTest,
                           public ::testing::WithParamInterface<WatcherFailure> {};

TEST_P(WatcherFailureTest, IsLoggedAndTheServiceGoesOn) {
  const WatcherFailure& f = GetParam();
  FakeScript script = provider_->DefaultScript();
  script.fail_at = f.at;
  script.fail_hr = f.hr;
  Start(script);
  LogCapture capture;
  InitAndStart();
  EXPECT_EQ(HelperLines(capture.Lines()), f.lines);
  EXPECT_EQ(provider_->Record().watcher_starts, f.starts);
  EXPECT_EQ(FiledTasks(), 0);
  ExpectAllReleased();
}

INSTANTIATE_TEST_SUITE_P(Failures,
                         WatcherFailureTest,
                         ::testing::ValuesIn(kWatcherFailures),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace halvorn
