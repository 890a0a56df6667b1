// The restart through the real Service Control Manager, command interpreter, taskkill and
// net start: a test service installed as "TessaryCorvexSVC" (the name the restart
// addresses) is really ended and started again. Needs the right to create services (Wine
// grants it); skipped, with the reason, where "sc create" is refused.
//
// "net start" returns before the service has settled, and the launched command runs
// detached from the caller, so the outcome is polled with "sc query" until it is reached or
// a generous bound passes.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "support/log_capture.h"
#include "support/win/service_control.h"
#include "util/common_util.h"
#include "util/platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;

constexpr const char* kServiceName = "TessaryCorvexSVC";
constexpr DWORD kStateNone = 0;  // the service is not installed
constexpr const wchar_t* kServiceNameW = L"TessaryCorvexSVC";

using testing::PollUntil;
using testing::RunCommand;

// The state of the service (SERVICE_RUNNING 4, SERVICE_STOPPED 1), or kStateNone when it is
// not installed.
DWORD QueryState() {
  const testing::ServiceView view = testing::QueryService(kServiceNameW);
  return view.installed ? view.state : kStateNone;
}

// The test service's control that makes it call the restart on itself.
constexpr DWORD kControlRestartYourself = 128;

class RestartUnderWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = testing::SettledPrefixProblem();
    ASSERT_TRUE(problem.empty()) << problem;
    RemoveService();
    const std::string exe =
        platform::WideToNarrow(testing::ModuleFolder() + L"\\restart_test_service.exe");
    marker_ = dir_.path() / "starts.txt";
    // binPath holds the executable and its argument, each quoted.
    const std::string bin_path = "\"\\\"" + exe + "\\\" \\\"" + marker_.string() + "\\\"\"";
    std::string out;
    if (RunCommand(std::string("sc create ") + kServiceName + " binPath= " + bin_path, &out) != 0) {
      GTEST_SKIP() << "needs the right to create services (Wine grants it): " << out;
    }
    created_ = true;
  }

  void TearDown() override {
    if (created_) {
      RemoveService();
    }
  }

  static void RemoveService() { testing::RemoveService(kServiceNameW); }

  // Process ids of the test service's starts, oldest first.
  std::vector<DWORD> Starts() const {
    std::vector<DWORD> ids;
    std::ifstream in(marker_);
    DWORD id = 0;
    while (in >> id) {
      ids.push_back(id);
    }
    return ids;
  }

  // Starts the service and waits until it runs and has recorded its start.
  void StartAndWaitRunning() {
    ASSERT_EQ(RunCommand(std::string("net start ") + kServiceName), 0);
    ASSERT_TRUE(PollUntil([this] { return QueryState() == SERVICE_RUNNING && !Starts().empty(); }))
        << "state " << QueryState();
  }

  bool RestartedAfter(std::size_t earlier_starts) const {
    return QueryState() == SERVICE_RUNNING && Starts().size() > earlier_starts;
  }

  testing::TempDir dir_;
  std::filesystem::path marker_;
  bool created_ = false;
};

TEST_F(RestartUnderWineTest, RunningServiceProcessIsEndedAndTheServiceStartedAgain) {
  ASSERT_NO_FATAL_FAILURE(StartAndWaitRunning());
  const DWORD first = Starts().back();
  ::halvorn::win::ScopedHandle first_process(::OpenProcess(SYNCHRONIZE, FALSE, first));
  ASSERT_NE(first_process.get(), nullptr);

  testing::LogCapture capture;
  CommonUtil::RestartService();
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   RestartService Processing", "T i :    RestartService success."));

  // The old process was ended by force (it never reported a stop) ...
  EXPECT_EQ(::WaitForSingleObject(
                first_process.get(),
                static_cast<DWORD>(std::chrono::milliseconds(testing::kSettleBound).count())),
            WAIT_OBJECT_0);
  // ... and the service runs again in a new one.
  ASSERT_TRUE(PollUntil([this] { return RestartedAfter(1); })) << "state " << QueryState();
  EXPECT_NE(Starts().back(), first);
}

TEST_F(RestartUnderWineTest, StoppedServiceIsStartedAgain) {
  ASSERT_EQ(QueryState(), static_cast<DWORD>(SERVICE_STOPPED));
  testing::LogCapture capture;
  CommonUtil::RestartService();
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   RestartService Processing", "T i :    RestartService success."));
  ASSERT_TRUE(PollUntil([this] { return RestartedAfter(0); })) << "state " << QueryState();
}

TEST_F(RestartUnderWineTest, ServiceRestartsItselfFromItsOwnProcess) {
  ASSERT_NO_FATAL_FAILURE(StartAndWaitRunning());
  const DWORD first = Starts().back();
  // The service calls the restart on itself: the command it launches ends its own process
  // and outlives it to start the service again.
  ASSERT_EQ(testing::SendControl(kServiceNameW, kControlRestartYourself),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(PollUntil([this] { return RestartedAfter(1); })) << "state " << QueryState();
  EXPECT_NE(Starts().back(), first);
}

TEST_F(RestartUnderWineTest, UninstalledServiceEndsAtTheOpenWithItsName) {
  RemoveService();
  testing::LogCapture capture;
  CommonUtil::RestartService();
  // ERROR_SERVICE_DOES_NOT_EXIST
  EXPECT_THAT(capture.Lines(), ElementsAre("T i :   RestartService Processing",
                                           "T i :   OpenService TessaryCorvexSVC error:1060"));
}

}  // namespace
}  // namespace halvorn
