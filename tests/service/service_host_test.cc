// The service's life under a (fake) service manager: status reports, controls, the main
// routine and the stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/fake_service_platform.h"
#include "service/power_events.h"
#include "service/service_host.h"
#include "service/worker_end.h"
#include "support/log_capture.h"
#include "tasks/task_manager.h"
#include "tasks/task_test_support.h"

namespace halvorn::service {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ExpectedLog;
using testing::FakePowerPlatform;
using testing::FakeServicePlatform;
using testing::FakeSystem;
using ::testing::HasSubstr;
using ::testing::IsSubsetOf;
using testing::LogCapture;
using ::testing::Not;
using testing::ProbeTask;

constexpr std::uint32_t kAccepted = kAcceptStop | kAcceptSessionChange;

ServiceStatus Status(ServiceState state,
                     std::uint32_t check_point,
                     std::uint32_t wait_hint,
                     std::uint32_t accepted) {
  ServiceStatus s;
  s.dwServiceType = kServiceWin32OwnProcess;
  s.dwCurrentState = static_cast<std::uint32_t>(state);
  s.dwControlsAccepted = accepted;
  s.dwCheckPoint = check_point;
  s.dwWaitHint = wait_hint;
  return s;
}

struct ReportStep {
  ServiceState state;
  std::uint32_t wait_hint;
  std::uint32_t check_point;
  std::uint32_t accepted;
};

TEST(ServiceStatusTest, Arithmetic) {
  // One life with a pause and a continue in the middle: each pending report takes the next
  // check point; running and stopped take 0.
  const ReportStep steps[] = {
      {ServiceState::kStartPending, 1000, 1, 0},
      {ServiceState::kRunning, 0, 0, kAccepted},
      {ServiceState::kPausePending, 0, 2, kAccepted},
      {ServiceState::kContinuePending, 0, 3, kAccepted},
      {ServiceState::kRunning, 0, 0, kAccepted},
      {ServiceState::kStopPending, 0, 4, kAccepted},
      {ServiceState::kStopped, 0, 0, kAccepted},
  };
  ServiceStatus status;
  status.dwWin32ExitCode = 5;  // overwritten by every report
  std::uint32_t next = 1;
  for (const ReportStep& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.state));
    FillServiceStatus(step.state, step.wait_hint, &status, &next);
    EXPECT_EQ(status.dwCurrentState, static_cast<std::uint32_t>(step.state));
    EXPECT_EQ(status.dwCheckPoint, step.check_point);
    EXPECT_EQ(status.dwWaitHint, step.wait_hint);
    EXPECT_EQ(status.dwControlsAccepted, step.accepted);
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
  }
}

// A host over fakes, with a task manager of its own.
class ServiceHostTest : public ::testing::Test {
 protected:
  explicit ServiceHostTest(FakeSystem::Worker worker = FakeSystem::Worker::kManual)
      : manager_(Hooks(worker)),
        power_(power_platform_, [this] { return &manager_; }),
        host_(platform_,
              power_,
              TaskEngineAccess{[this] { return &manager_; },
                               [this](std::uint32_t bound_ms) {
                                 bounds_.push_back(bound_ms);
                                 return worker_end_.WaitFor(bound_ms);
                               }}) {
    power_platform_.register_answers = {0x77};
  }

  TaskManagerHooks Hooks(FakeSystem::Worker worker) {
    TaskManagerHooks hooks = system_.Hooks(worker);
    if (worker == FakeSystem::Worker::kThread) {
      hooks.startThread = worker_end_.WrapStarter();
    }
    return hooks;
  }

  // Runs ServiceMain on a thread of its own, as the service manager does.
  void StartService() {
    main_ = std::thread([this] { host_.ServiceMain(); });
  }
  void JoinService() {
    if (main_.joinable()) {
      main_.join();
    }
  }
  ~ServiceHostTest() override { JoinService(); }

  FakeSystem system_;
  WorkerEndWatch worker_end_;
  CTaskManager manager_;
  FakeServicePlatform platform_;
  FakePowerPlatform power_platform_;
  PowerEvents power_;
  ServiceHost host_;
  std::vector<std::uint32_t> bounds_;
  std::thread main_;
};

const char kStartBanner[] =
    "\r\n==================================   Halvorn start "
    "==============================================\r\n";
const char kStopBanner[] =
    "\r\n==================================   Halvorn stop "
    "==============================================\r\n";

const char kStopBannerLine[] =
    "==================================   Halvorn stop "
    "==============================================";

ExpectedLog Report(std::uint32_t accepted) {
  char text[64];
  std::snprintf(text, sizeof text, "dwControlsAccepted = 0x%x", accepted);
  return ExpectedLog().Enter("ReportServiceStatus").Info(text).Leave("ReportServiceStatus");
}

TEST_F(ServiceHostTest, StartAndStop) {
  std::vector<std::string> lines;
  {
    LogCapture capture;
    StartService();
    ASSERT_TRUE(platform_.WaitForState(ServiceState::kRunning));
    EXPECT_EQ(host_.ServiceCtrlHandler(kControlStop, 0), 0u);
    JoinService();
    lines = capture.Lines();
  }
  // The status table of a normal life.
  EXPECT_THAT(platform_.Statuses(), ElementsAre(Status(ServiceState::kStartPending, 1, 1000, 0),
                                                Status(ServiceState::kRunning, 0, 0, kAccepted),
                                                Status(ServiceState::kStopPending, 2, 0, kAccepted),
                                                Status(ServiceState::kStopped, 0, 0, kAccepted)));
  EXPECT_THAT(platform_.Journal(),
              ElementsAre("register handler", "create event", "join apartment", "leave apartment"));
  EXPECT_EQ(power_.Registration(), 0x77u);

  // Every line of both threads, the stop lines of the main routine included.
  // (The handler's last lines may come after the main routine's: it runs on its own thread.)
  EXPECT_EQ(lines.front(), "T h : + ServiceMain");
  const ExpectedLog start = ExpectedLog().Enter("ServiceMain").Info(kStartBanner);
  EXPECT_TRUE(testing::LinesInOrder(lines, start.lines()));
  EXPECT_TRUE(
      testing::LinesInOrder(lines, ExpectedLog()
                                       .Info("KService::Run entry")
                                       .Info("KService mbn new success!")
                                       .Info("CTaskFactory createTask TASK_TYPE_AUTH_MODULE")
                                       .lines()));
  EXPECT_TRUE(
      testing::LinesInOrder(lines, ExpectedLog()
                                       .Enter("ServiceCtrlHandler")
                                       .Info("CtrlCode = 0x1 ; dwEventType = 0")
                                       .Append(Report(kAccepted))
                                       .Info("SERVICE_CONTROL_STOP")
                                       .Enter("KService::stop")
                                       .Info("CTaskFactory createTask TASK_TYPE_STOP_WORK")
                                       .Leave("KService::stop")
                                       .Info("SERVICE_CONTROL_STOP g_pKService->stop(); exit")
                                       .Leave("ServiceCtrlHandler")
                                       .lines()));
  EXPECT_TRUE(testing::LinesInOrder(lines, ExpectedLog()
                                               .Enter("KService::stop")
                                               .Info("CTaskFactory createTask TASK_TYPE_STOP_WORK")
                                               .Leave("KService::stop")
                                               .Info("\nKService::Run leave\n")
                                               .Info(kStopBanner)
                                               .Append(Report(kAccepted))
                                               .Leave("ServiceMain")
                                               .lines()));
  // The handler's stop-work task came before the main thread's.
  std::vector<std::string> stops;
  for (const std::string& line : lines) {
    if (line.find("so do not add the new task") != std::string::npos) {
      stops.push_back(line);
    }
  }
  EXPECT_EQ(stops.size(), 2u);  // both absorbed by the filed authorisation task
}

TEST_F(ServiceHostTest, ControlTable) {
  struct ControlCase {
    const char* name;
    std::uint32_t control;
    std::uint32_t event_type;
    std::vector<ServiceStatus> reports;
    std::vector<std::string> lines;
  };
  const std::vector<ControlCase> cases = {
      {"Interrogate",
       kControlInterrogate,
       0,
       {},
       ExpectedLog()
           .Enter("ServiceCtrlHandler")
           .Info("CtrlCode = 0x4 ; dwEventType = 0")
           .Leave("ServiceCtrlHandler")
           .lines()},
      {"SessionChange",
       kControlSessionChange,
       5,
       {},
       ExpectedLog()
           .Enter("ServiceCtrlHandler")
           .Info("CtrlCode = 0xe ; dwEventType = 5")
           .Leave("ServiceCtrlHandler")
           .lines()},
      {"UserControl",
       0x80,
       0,
       {},
       ExpectedLog()
           .Enter("ServiceCtrlHandler")
           .Info("CtrlCode = 0x80 ; dwEventType = 0")
           .Leave("ServiceCtrlHandler")
           .lines()},
      {"Pause",
       kControlPause,
       0,
       {Status(ServiceState::kPausePending, 1, 0, kAccepted)},
       ExpectedLog()
           .Enter("ServiceCtrlHandler")
           .Info("CtrlCode = 0x2 ; dwEventType = 0")
           .Info("SERVICE_CONTROL_PAUSE")
           .Append(Report(kAccepted))
           .Leave("ServiceCtrlHandler")
           .lines()},
      {"Continue",
       kControlContinue,
       0,
       {Status(ServiceState::kContinuePending, 1, 0, kAccepted)},
       ExpectedLog()
           .Enter("ServiceCtrlHandler")
           .Info("CtrlCode = 0x3 ; dwEventType = 0")
           .Info("SERVICE_CONTROL_CONTINUE")
           .Append(Report(kAccepted))
           .Leave("ServiceCtrlHandler")
           .lines()},
      // Before the service object exists a stop only reports.
      {"ShutdownBeforeStart",
       kControlShutdown,
       0,
       {Status(ServiceState::kStopPending, 1, 0, kAccepted)},
       ExpectedLog()
           .Enter("ServiceCtrlHandler")
           .Info("CtrlCode = 0x5 ; dwEventType = 0")
           .Append(Report(kAccepted))
           .Info("SERVICE_CONTROL_STOP")
           .Info("SERVICE_CONTROL_STOP g_pKService->stop(); exit")
           .Leave("ServiceCtrlHandler")
           .lines()},
  };
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
    FakeServicePlatform platform;
    FakePowerPlatform power_platform;
    PowerEvents power(power_platform, [&manager] { return &manager; });
    ServiceHost host(platform, power, TaskEngineAccess{[&manager] { return &manager; }, {}});
    std::vector<std::string> lines;
    {
      LogCapture capture;
      EXPECT_EQ(host.ServiceCtrlHandler(c.control, c.event_type), 0u);
      lines = capture.Lines();
    }
    std::vector<ServiceStatus> reports = platform.Statuses();
    for (ServiceStatus& s : reports) {
      s.dwServiceType = kServiceWin32OwnProcess;  // set only by ServiceMain
    }
    EXPECT_THAT(reports, ElementsAreArray(c.reports));
    EXPECT_THAT(lines, ElementsAreArray(c.lines));
  }
}

TEST_F(ServiceHostTest, HandlerThatCannotBeRegisteredReportsNothing) {
  platform_.register_ok = false;
  std::vector<std::string> lines;
  {
    LogCapture capture;
    host_.ServiceMain();
    lines = capture.Lines();
  }
  EXPECT_THAT(platform_.Statuses(), ElementsAre());
  EXPECT_EQ(system_.thread_starts, 1);  // the worker was started all the same
  EXPECT_EQ(power_platform_.registrations, 0);
  EXPECT_TRUE(testing::LinesInOrder(lines, ExpectedLog()
                                               .Error("RegisterServiceCtrlHandler returned error")
                                               .Leave("ServiceMain")
                                               .lines()));
  EXPECT_EQ(lines.back(), "T h : - ServiceMain");
}

TEST_F(ServiceHostTest, StopEventThatCannotBeMadeReportsStoppedAtOnce) {
  platform_.event_ok = false;
  power_platform_.register_answers = {0};
  std::vector<std::string> lines;
  {
    LogCapture capture;
    host_.ServiceMain();
    lines = capture.Lines();
  }
  EXPECT_THAT(platform_.Statuses(), ElementsAre(Status(ServiceState::kStartPending, 1, 1000, 0),
                                                Status(ServiceState::kStopped, 0, 0, kAccepted)));
  EXPECT_TRUE(
      testing::LinesInOrder(lines, ExpectedLog()
                                       .Error("RegisterSuspendResumeNotification returned error")
                                       .Append(Report(0))
                                       .Error("CreateEvent returned error")
                                       .Append(Report(kAccepted))
                                       .Leave("ServiceMain")
                                       .lines()));
  EXPECT_THAT(lines, Not(Contains(HasSubstr("KService"))));
}

TEST_F(ServiceHostTest, WaitForServiceMainReturn) {
  host_.WaitForServiceMainReturn();  // never entered: returns at once
  StartService();
  ASSERT_TRUE(platform_.WaitForState(ServiceState::kRunning));
  host_.ServiceCtrlHandler(kControlStop, 0);
  host_.WaitForServiceMainReturn();
  EXPECT_EQ(platform_.Statuses().back().dwCurrentState,
            static_cast<std::uint32_t>(ServiceState::kStopped));
  JoinService();
}

TEST_F(ServiceHostTest, ReportsFromTwoThreadsKeepTheirCheckPointsInOrder) {
  // The dispatcher thread and the service main thread both report; the manager must see
  // every check point once and in increasing order.
  constexpr int kPerThread = 200;
  auto reporter = [this] {
    for (int i = 0; i < kPerThread; ++i) {
      host_.ReportServiceStatus(ServiceState::kPausePending, 0);
    }
  };
  std::thread a(reporter);
  std::thread b(reporter);
  a.join();
  b.join();
  const std::vector<ServiceStatus> statuses = platform_.Statuses();
  ASSERT_EQ(statuses.size(), 2u * kPerThread);
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    EXPECT_EQ(statuses[i].dwCheckPoint, i + 1) << "report " << i;
  }
}

// A job that holds the worker until released, asking for a retry or not.
class BlockingJob {
 public:
  explicit BlockingJob(bool retry) : retry_(retry) {}

  ProbeTask::Job Job() {
    return [this](ProbeTask&, bool* retry) {
      *retry = retry_;
      std::unique_lock hold(lock_);
      inside_ = true;
      cv_.notify_all();
      cv_.wait(hold, [this] { return released_; });
      released_ = false;
      return true;
    };
  }
  // Waits (generously) until the worker is inside the job.
  bool WaitInside() {
    std::unique_lock hold(lock_);
    return cv_.wait_for(hold, std::chrono::seconds(60), [this] { return inside_; });
  }
  // Lets the current run end.
  void Release() {
    {
      std::lock_guard hold(lock_);
      released_ = true;
    }
    cv_.notify_all();
  }

 private:
  const bool retry_;
  std::mutex lock_;
  std::condition_variable cv_;
  bool inside_ = false;
  bool released_ = false;
};

// With a real worker thread.
class ServiceHostWorkerTest : public ServiceHostTest {
 protected:
  ServiceHostWorkerTest() : ServiceHostTest(FakeSystem::Worker::kThread) {}
};

TEST_F(ServiceHostWorkerTest, StopWhileAnAuthorisationTaskIsFiledEndsTheWorker) {
  // A task with the authorisation task's type id, busy in its job and asking for a retry on
  // every run; the authorisation task filed at start absorbs the stop-work tasks.
  BlockingJob job(/*retry=*/true);
  std::vector<std::string> lines;
  {
    LogCapture capture;
    StartService();
    ASSERT_TRUE(platform_.WaitForState(ServiceState::kRunning));
    manager_.addTask(std::make_unique<ProbeTask>("CTaskProbe", TASK_TYPE_ID_AUTH_MODULE,
                                                 TASK_PRIORITY_HIGH, job.Job()));
    ASSERT_TRUE(job.WaitInside());
    host_.ServiceCtrlHandler(kControlStop, 0);
    // The worker finishes the run it is in, then ends instead of retrying.
    job.Release();
    JoinService();
    EXPECT_TRUE(worker_end_.WaitFor(0));
    lines = capture.Lines();
  }
  EXPECT_THAT(bounds_, ElementsAre(ServiceHost::kWorkerEndBoundMs));
  EXPECT_THAT(lines, Contains("T h : - CTaskManager::dealTaskThread"));
  EXPECT_THAT(lines, Not(Contains(HasSubstr("task worker still busy"))));
  // The worker's last line comes before the stop banner: nothing was torn down under it.
  const auto worker_done =
      std::find(lines.begin(), lines.end(), "T h : - CTaskManager::dealTaskThread");
  const auto banner = std::find(lines.begin(), lines.end(), kStopBannerLine);
  ASSERT_NE(banner, lines.end());
  EXPECT_LT(worker_done, banner);
}

TEST_F(ServiceHostWorkerTest, WorkerStillBusyPastTheBoundIsReported) {
  // A bound of 0 stands in for the stop's bound; the job is released afterwards.
  BlockingJob job(/*retry=*/false);
  ServiceHost host(platform_, power_,
                   TaskEngineAccess{[this] { return &manager_; },
                                    [this](std::uint32_t) { return worker_end_.WaitFor(0); }});
  std::vector<std::string> lines;
  {
    LogCapture capture;
    std::thread main([&host] { host.ServiceMain(); });
    ASSERT_TRUE(platform_.WaitForState(ServiceState::kRunning));
    manager_.addTask(std::make_unique<ProbeTask>("CTaskProbe", 900, TASK_PRIORITY_HIGH, job.Job()));
    ASSERT_TRUE(job.WaitInside());
    host.ServiceCtrlHandler(kControlStop, 0);
    main.join();
    job.Release();
    EXPECT_TRUE(worker_end_.WaitFor(60000));
    lines = capture.Lines();
  }
  EXPECT_THAT(lines,
              Contains("T e :   task worker still busy after 15000 ms; stopping without it"));
  EXPECT_EQ(platform_.Statuses().back().dwCurrentState,
            static_cast<std::uint32_t>(ServiceState::kStopped));
}

}  // namespace
}  // namespace halvorn::service
