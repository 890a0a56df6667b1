// The Windows backend's own calls against the system (Wine's): its power notifications and
// event log are stubs there, so what is checked is that their answers, whatever they are, are
// taken in the documented way and the callback logic runs over them.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "service/power_events.h"
#include "service/win/service_platform_win.h"
#include "support/log_capture.h"
#include "tasks/task_manager.h"
#include "tasks/task_test_support.h"

namespace halvorn::service {
namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using testing::FakeSystem;
using ::testing::HasSubstr;
using testing::LogCapture;

ULONG CALLBACK Callback(PVOID, ULONG, PVOID) {
  return 1;
}

TEST(ServiceBackendWinTest, SuspendResumeRegistration) {
  win::WinPowerPlatform platform(&Callback);
  const std::uintptr_t handle = platform.RegisterSuspendResume();
  // Wine answers with a handle of its stub; Windows with a real one.
  EXPECT_NE(handle, 0u) << ::GetLastError();
}

TEST(ServiceBackendWinTest, EventLogReads) {
  win::WinPowerPlatform platform(&Callback);
  std::unique_ptr<EventLogReader> log = platform.OpenApplicationLog();
  ASSERT_NE(log, nullptr) << ::GetLastError();
  std::vector<std::uint8_t> buffer(PowerEvents::kReadBufferSize);
  std::uint32_t read = 0;
  std::uint32_t needed = 0;
  // Reads until the end of the log (Wine's stub log is empty: the first read fails).
  int reads = 0;
  while (reads < 10000 && log->ReadBackwards(buffer, &read, &needed)) {
    EXPECT_GT(read, 0u);
    EXPECT_LE(read, buffer.size());
    ++reads;
  }
  EXPECT_THAT(::GetLastError(), AnyOf(static_cast<DWORD>(ERROR_HANDLE_EOF),
                                      static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)));
}

TEST(ServiceBackendWinTest, LocalTimeOfSeconds) {
  win::WinPowerPlatform platform(&Callback);
  const std::int64_t now = platform.Now();
  EXPECT_NEAR(static_cast<double>(now), static_cast<double>(std::time(nullptr)), 5.0);
  const std::tm t = platform.LocalTime(now);
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  EXPECT_EQ(t.tm_year + 1900, local.wYear);
  EXPECT_EQ(t.tm_mon + 1, local.wMonth);
}

TEST(ServiceBackendWinTest, AutomaticResumeOverTheRealCalls) {
  FakeSystem system;
  CTaskManager manager(system.Hooks(FakeSystem::Worker::kManual));
  win::WinPowerPlatform platform(&Callback);
  PowerEvents power(platform, [&manager] { return &manager; });
  ASSERT_TRUE(power.RegisterAtStart());
  std::vector<std::string> lines;
  {
    LogCapture capture;
    EXPECT_EQ(power.PowerChanged(kPowerSuspend), 1u);
    EXPECT_EQ(power.PowerChanged(kPowerResumeAutomatic), 1u);
    lines = capture.Lines();
  }
  EXPECT_NE(power.Registration(), 0u);
  EXPECT_THAT(lines, Contains("T i :   +getLastLogTime"));
  EXPECT_THAT(lines, Contains("T i :   -getLastLogTime"));
  // Wine's empty log holds no logon record: the substitute time is reported.
  EXPECT_THAT(lines, Contains(AnyOf(HasSubstr("find logon time !!"),
                                    HasSubstr("not find logon time,because start long long ago"))));
  CTask* task = manager.getTask();
  ASSERT_NE(task, nullptr);
  EXPECT_STREQ(task->getName(), "CTaskAuthModule");
}

TEST(ServiceBackendWinTest, StopEvent) {
  win::WinServicePlatform platform(nullptr);
  std::unique_ptr<StopEvent> event = platform.CreateStopEvent();
  ASSERT_NE(event, nullptr);
  event->Set();
  event->Wait();  // manual reset: returns at once, also a second time
  event->Wait();
}

}  // namespace
}  // namespace halvorn::service
