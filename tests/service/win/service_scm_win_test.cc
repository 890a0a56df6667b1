// halvorn.exe under the real service manager (Wine's): installed with "sc create", started
// and stopped with "sc", its state polled from outside, its log read back. Needs the right to
// create services (Wine grants it); skipped, with the reason, where "sc create" is refused.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "service/win/service_log.h"
#include "support/log_capture.h"
#include "support/win/service_control.h"
#include "util/platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn {
namespace {

using ::halvorn::win::ScopedHandle;
using ::testing::Contains;
using ::testing::HasSubstr;
using testing::PollUntil;
using testing::QueryService;
using testing::ServiceView;

constexpr const wchar_t* kName = L"Halvorn";

// Every state seen from outside, with the check point, wait hint and accepted controls
// reported with it.
using Seen = std::tuple<DWORD, DWORD, DWORD, DWORD>;

class ServiceScmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = testing::SettledPrefixProblem();
    ASSERT_TRUE(problem.empty()) << problem;
    testing::RemoveService(kName);
    exe_ = platform::WideToNarrow(testing::ModuleFolder() + L"\\halvorn.exe");
    std::string out;
    if (testing::RunCommand("sc create Halvorn binPath= \"" + exe_ + "\" type= own", &out) != 0) {
      GTEST_SKIP() << "needs the right to create services (Wine grants it): " << out;
    }
    created_ = true;
  }

  void TearDown() override {
    if (created_) {
      testing::RemoveService(kName);
    }
  }

  // Polls the service until `state`, noting every distinct report seen on the way.
  bool PollState(DWORD state) {
    return PollUntil([&] {
      const ServiceView v = QueryService(kName);
      seen_.insert({v.state, v.check_point, v.wait_hint, v.controls_accepted});
      return v.state == state;
    });
  }

  // Polls the log until a line holds `text`.
  bool PollLog(const std::string& text) {
    return PollUntil([&] {
      const std::vector<std::string> lines = log_.Lines();
      return std::any_of(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(text) != std::string::npos; });
    });
  }

  testing::ServiceLog log_;
  std::string exe_;
  bool created_ = false;
  std::set<Seen> seen_;
};

TEST_F(ServiceScmTest, StartRunStop) {
  ASSERT_EQ(testing::RunCommand("sc start Halvorn"), 0);
  ASSERT_TRUE(PollState(SERVICE_RUNNING));
  const DWORD pid = QueryService(kName).process_id;
  ScopedHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  ASSERT_TRUE(process.is_valid()) << pid;
  // The job has been queued before the stop comes.
  ASSERT_TRUE(PollLog("CTaskFactory createTask TASK_TYPE_AUTH_MODULE"));

  ASSERT_EQ(testing::RunCommand("sc stop Halvorn"), 0);
  ASSERT_TRUE(PollState(SERVICE_STOPPED));
  ASSERT_EQ(::WaitForSingleObject(process.get(), 90000), WAIT_OBJECT_0);
  DWORD exit_code = 1;
  ::GetExitCodeProcess(process.get(), &exit_code);
  EXPECT_EQ(exit_code, 0u);

  // Each state seen from outside carries its own check point, wait hint and controls.
  for (const Seen& s : seen_) {
    const auto [state, check_point, wait_hint, accepted] = s;
    SCOPED_TRACE(::testing::Message() << "state " << state);
    switch (state) {
      case SERVICE_START_PENDING:
        EXPECT_EQ(s, Seen(state, 1, 1000, 0));
        break;
      case SERVICE_STOP_PENDING:
        EXPECT_EQ(s, Seen(state, 2, 0, 0x81));
        break;
      case SERVICE_RUNNING:
        EXPECT_EQ(s, Seen(state, 0, 0, 0x81));
        break;
      case SERVICE_STOPPED:
        EXPECT_EQ(std::make_tuple(check_point, wait_hint), std::make_tuple(0u, 0u));
        break;
      default:
        ADD_FAILURE() << "unexpected state";
    }
  }

  const std::vector<std::string> lines = log_.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines, Contains(HasSubstr("Modem_ServiceMain Entry BUILD ")));
  // The status reports in order: start pending, running, stop pending, stopped.
  std::vector<std::string> reports;
  for (const std::string& line : lines) {
    if (line.find("dwControlsAccepted = ") != std::string::npos) {
      reports.push_back(line);
    }
  }
  EXPECT_EQ(reports,
            (std::vector<std::string>{
                "T i :   dwControlsAccepted = 0x0", "T i :   dwControlsAccepted = 0x81",
                "T i :   dwControlsAccepted = 0x81", "T i :   dwControlsAccepted = 0x81"}));
  // Every stop line of both threads reached the file; the entry's line is the last.
  EXPECT_TRUE(testing::LinesInOrder(
      lines,
      {"T h : + ServiceCtrlHandler", "T i :   CtrlCode = 0x1 ; dwEventType = 0",
       "T i :   SERVICE_CONTROL_STOP", "T h : + KService::stop",
       "T i :   SERVICE_CONTROL_STOP g_pKService->stop(); exit", "T h : - ServiceCtrlHandler"}));
  EXPECT_TRUE(testing::LinesInOrder(
      lines, {"T h : + KService::stop", "T h : - KService::stop", "T i :   \nKService::Run leave\n",
              "==================================   Halvorn stop "
              "==============================================",
              "T h : - ReportServiceStatus", "T h : - ServiceMain"}));
  // The stop ended the worker (it was retrying: Wine has no modem) and waited for it before
  // the stop banner.
  const auto worker_done =
      std::find(lines.begin(), lines.end(), "T h : - CTaskManager::dealTaskThread");
  const auto banner = std::find(lines.begin(), lines.end(),
                                "==================================   Halvorn stop "
                                "==============================================");
  ASSERT_NE(worker_done, lines.end());
  EXPECT_LT(worker_done, banner);
  EXPECT_THAT(lines, ::testing::Not(Contains(HasSubstr("task worker still busy"))));
  EXPECT_EQ(lines.back(), "T i :   Halvorn: Main: Exit");
}

TEST_F(ServiceScmTest, InterrogateOnlyLogsItsCode) {
  ASSERT_EQ(testing::RunCommand("sc start Halvorn"), 0);
  ASSERT_TRUE(PollState(SERVICE_RUNNING));
  ASSERT_TRUE(PollLog("CTaskFactory createTask TASK_TYPE_AUTH_MODULE"));
  EXPECT_EQ(testing::SendControl(kName, SERVICE_CONTROL_INTERROGATE),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(PollLog("CtrlCode = 0x4 ; dwEventType = 0"));
  ASSERT_EQ(testing::RunCommand("sc stop Halvorn"), 0);
  ASSERT_TRUE(PollState(SERVICE_STOPPED));
  ASSERT_TRUE(PollLog("Halvorn: Main: Exit"));

  const std::vector<std::string> lines = log_.Lines();
  const auto code =
      std::find(lines.begin(), lines.end(), "T i :   CtrlCode = 0x4 ; dwEventType = 0");
  ASSERT_NE(code, lines.end());
  // The handler's thread writes nothing else for it: its next line of that thread is the
  // exit trace line, and no status was reported between the running and the stop reports.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T i :   dwControlsAccepted = 0x81"), 3);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T h : + ServiceCtrlHandler"), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T h : - ServiceCtrlHandler"), 2);
}

TEST_F(ServiceScmTest, FromAConsoleItEndsWith1063) {
  // Its own program-data folder: a console start logs where its environment says.
  testing::TempDir data;
  wchar_t previous[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"programdata", previous, MAX_PATH);
  ::SetEnvironmentVariableW(L"programdata", platform::NarrowToWide(data.path().string()).c_str());
  const int code = testing::RunCommand("\"" + exe_ + "\"");
  ::SetEnvironmentVariableW(L"programdata", previous);
  EXPECT_EQ(code, 1063);  // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
  const std::vector<std::string> lines = testing::MaskLogLines(
      testing::ReadLogFolder(data.path() / LogHelper::kCompanyFolder / LogHelper::kProductFolder /
                             LogHelper::kLogSubFolder));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "T i :   Halvorn: Main: StartServiceCtrlDispatcher returned error : 1063");
  EXPECT_THAT(lines, Contains(HasSubstr("Modem_ServiceMain Entry BUILD ")));
  // No task ran: the task manager was never made.
  EXPECT_THAT(lines, ::testing::Not(Contains(HasSubstr("CTaskManager"))));
}

}  // namespace
}  // namespace halvorn
