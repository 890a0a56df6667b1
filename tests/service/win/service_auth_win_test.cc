// halvorn.exe's test build (the stand-in adapter list aside, halvorn.exe itself) under Wine's
// service manager with the fake runtime provider registered: the service runs the
// authorisation task at start and leaves the modem at radio function level 1; and when the
// runtime crashes on the task worker, the service's crash filter leaves a dump named by a GUID
// beside the executable, a new one for each crash.
//
// The provider in the service's process is driven through shared memory
// (FakeSharedState). Wine's SetupAPI keeps no device power data and its firmware table has no
// OEM structure (and the service's process is started by the service manager, outside any
// test's mount namespace), so the checks past the vendor test run with IsDisableVerify = 1.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "auth/successful_run_log.h"
#include "device/win/win_devices.h"
#include "fake_provider_client.h"
#include "service/win/dump_files.h"
#include "service/win/fake_modem_service.h"
#include "service/win/service_log.h"
#include "support/log_capture.h"
#include "support/win/service_control.h"
#include "util/platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn {
namespace {

using testing::ChecksOff;
using ::testing::Contains;
using ::testing::HasSubstr;
using testing::PollUntil;
using testing::QueryService;
using testing::SharedProviderState;

constexpr const wchar_t* kName = L"Halvorn";

class ServiceAuthWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = testing::SettledPrefixProblem();
    ASSERT_TRUE(problem.empty()) << problem;
    testing::RemoveService(kName);
    provider_ = testing::FakeProvider::Get();  // registers the provider's classes
    ASSERT_NE(provider_, nullptr);
    ASSERT_TRUE(device_.created()) << ::GetLastError();
    ASSERT_TRUE(driver_key_.ok());
    ASSERT_TRUE(checks_off_.ok());
  }

  void TearDown() override {
    if (created_) {
      testing::RemoveService(kName);
    }
  }

  void Install(const std::wstring& exe) {
    std::string out;
    if (testing::RunCommand(
            "sc create Halvorn binPath= \"" + platform::WideToNarrow(exe) + "\" type= own", &out) !=
        0) {
      GTEST_SKIP() << "needs the right to create services (Wine grants it): " << out;
    }
    created_ = true;
  }

  FakeScript LevelKeepingModem() const {
    FakeScript script = provider_->DefaultScript();
    script.keeps_level = 1;
    script.level = 0;
    return script;
  }

  testing::FakeProvider* provider_ = nullptr;
  testing::CreatedDevice device_{L"USB\\VID_7A3F&PID_0B41&MI_0C\\HALVORNSVC&0&000C",
                                 L"LTE Module MBIM",
                                 std::wstring(L"USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C\0"
                                              L"USB\\VID_7A3F&PID_0B41&MI_0C\0",
                                              64)};
  testing::DriverKey driver_key_{"0917", testing::kModemAdapterName, testing::kModemInstanceId};
  ChecksOff checks_off_;
  testing::ServiceLog log_;
  bool created_ = false;
};

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

TEST_F(ServiceAuthWinTest, TheServiceSetsTheLevelAtStart) {
  SharedProviderState shared(LevelKeepingModem());
  ASSERT_TRUE(shared.ok()) << ::GetLastError();
  ASSERT_NO_FATAL_FAILURE(Install(testing::ModuleFolder() + L"\\halvorn_stand_in_adapters.exe"));

  ASSERT_EQ(testing::RunCommand("sc start Halvorn"), 0);
  ASSERT_TRUE(PollUntil([] { return QueryService(kName).state == SERVICE_RUNNING; }));
  ASSERT_TRUE(PollUntil([&] { return shared.Level() == 1; })) << "level " << shared.Level();
  // The worker finishes the run (the set's line, then the pause before the task is removed).
  ASSERT_TRUE(PollUntil([&] { return HasLine(log_.Lines(), "SET MBIM FUN SUCCESS!"); }));
  ASSERT_EQ(testing::RunCommand("sc stop Halvorn"), 0);
  ASSERT_TRUE(PollUntil([] { return QueryService(kName).state == SERVICE_STOPPED; }));
  ASSERT_TRUE(PollUntil([&] { return HasLine(log_.Lines(), "Halvorn: Main: Exit"); }));

  const FakeRecord record = shared.Record();
  EXPECT_EQ(record.level, 1);
  ASSERT_EQ(record.command_count, 2);
  EXPECT_EQ(record.commands[0].set, 0);
  EXPECT_EQ(record.commands[1].set, 1);
  const std::vector<std::string> lines = log_.Lines();
  EXPECT_THAT(lines, Contains("T i :   CTaskFactory createTask TASK_TYPE_AUTH_MODULE"));
  EXPECT_THAT(lines, Contains("T i :   Read IsDisableVerify = 1(True)"));
  EXPECT_THAT(lines, Contains("T i :   SET MBIM FUN SUCCESS!"));
  EXPECT_EQ(lines.back(), "T i :   Halvorn: Main: Exit");
}

TEST_F(ServiceAuthWinTest, ACrashOnTheWorkerLeavesADumpBesideTheExecutable) {
  FakeScript script = LevelKeepingModem();
  script.crash_in_get_default = 1;
  SharedProviderState shared(script);
  ASSERT_TRUE(shared.ok()) << ::GetLastError();
  // A copy of the program in a folder of its own, where the dumps land.
  testing::TempDir install;
  const std::filesystem::path folder = install.path();
  const std::filesystem::path exe = folder / "halvorn.exe";
  std::filesystem::copy_file(
      std::filesystem::path(testing::ModuleFolder()) / "halvorn_stand_in_adapters.exe", exe,
      std::filesystem::copy_options::overwrite_existing);
  ASSERT_NO_FATAL_FAILURE(Install(exe.wstring()));

  for (std::size_t crash = 1; crash <= 2; ++crash) {
    SCOPED_TRACE(::testing::Message() << "crash " << crash);
    // Wine's service manager does not notice that a service process has ended; it starts the
    // service again all the same once the process is gone.
    ASSERT_TRUE(PollUntil([] { return testing::RunCommand("sc start Halvorn") == 0; }));
    // The worker crashes in its first run. The dump comes first; then the "Fatal Error"
    // message, which a service cannot show (under Wine it waits for ever), so the process is
    // ended after the bound with the exception's code.
    ASSERT_TRUE(PollUntil([&] { return testing::Dumps(folder).size() == crash; }))
        << testing::Dumps(folder).size() << " dumps";
    const DWORD pid = QueryService(kName).process_id;
    ::halvorn::win::ScopedHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    ASSERT_TRUE(process.is_valid()) << pid;
    ASSERT_EQ(::WaitForSingleObject(process.get(), 90000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    // Nothing ran past the crash: the job never got beyond its first step.
    EXPECT_FALSE(HasLine(log_.Lines(), "MBIM Device is not exist."));
  }
  testing::ExpectGuidNamedMinidumps(folder, 2);
}

}  // namespace
}  // namespace halvorn
