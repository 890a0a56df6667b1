// The restart through the real Service Control Manager, command interpreter, taskkill and
// net start: a test service installed as "TessaryCorvexSVC" (the name the restart
// addresses) is really ended and started again. Needs the right to create services (Wine
// grants it); skipped, with the reason, where "sc create" is refused.
//
// "net start" returns before the service has settled, and the launched command runs
// detached from the caller, so the outcome is polled with "sc query" until it is reached or
// a generous bound passes.

#include <windows.h>

#include <tlhelp32.h>

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
#include "util/common_util.h"
#include "util/platform.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;

constexpr const char* kServiceName = "TessaryCorvexSVC";
constexpr DWORD kStateNone = 0;  // the service is not installed
constexpr auto kSettleBound = std::chrono::seconds(90);

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* receive() {
    reset();
    return &handle_;
  }
  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle_);
    }
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// Runs a command line, waits for it and returns its exit code (-1 when it cannot start);
// its standard output and error go to *output.
int RunCommand(const std::string& command, std::string* output = nullptr) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ScopedHandle read_end;
  ScopedHandle write_end;
  if (!::CreatePipe(read_end.receive(), write_end.receive(), &inherit, 0)) {
    return -1;
  }
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end.get();
  startup.hStdError = write_end.get();
  PROCESS_INFORMATION info{};
  std::wstring line = platform::NarrowToWide(command);
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    return -1;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  write_end.reset();
  std::string text;
  char buffer[512];
  DWORD got = 0;
  while (::ReadFile(read_end.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  if (output != nullptr) {
    *output = text;
  }
  return static_cast<int>(code);
}

// The state number that "sc query" shows (SERVICE_RUNNING 4, SERVICE_STOPPED 1), or
// kStateNone when the service is not installed.
DWORD QueryState() {
  std::string out;
  RunCommand(std::string("sc query ") + kServiceName, &out);
  std::size_t state = out.find("STATE");
  if (state == std::string::npos) {
    return kStateNone;
  }
  std::size_t colon = out.find(':', state);
  return colon == std::string::npos
             ? kStateNone
             : static_cast<DWORD>(std::strtoul(&out[colon + 1], nullptr, 10));
}

// The test service's control that makes it call the restart on itself.
constexpr DWORD kControlRestartYourself = 128;

// Sends a control to the service ("sc control" of Wine does not take user controls).
DWORD SendControl(DWORD control) {
  struct ScDeleter {
    void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
  };
  using ScopedSc = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScDeleter>;
  ScopedSc manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    return ::GetLastError();
  }
  ScopedSc service(
      ::OpenServiceW(manager.get(), L"TessaryCorvexSVC", SERVICE_USER_DEFINED_CONTROL));
  if (!service) {
    return ::GetLastError();
  }
  SERVICE_STATUS status{};
  return ::ControlService(service.get(), control, &status) ? ERROR_SUCCESS : ::GetLastError();
}

bool PollUntil(const std::function<bool()>& reached) {
  const auto deadline = std::chrono::steady_clock::now() + kSettleBound;
  while (!reached()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return true;
}

// Running copies of the service control manager. A prefix used right after
// "wineboot --init" can run two for good, both answering on the service-control pipe, so
// that one command creates the service in one and the next does not find it in the other.
// The harness lets the first boot end ("wineserver -w") before it keeps a server running.
int ServiceManagers() {
  ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::_wcsicmp(entry.szExeFile, L"services.exe") == 0) {
      ++count;
    }
  }
  return count;
}

std::wstring ModuleFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, n)).parent_path().wstring();
}

class RestartUnderWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Once per run: a prefix that does not settle does not settle later either.
    static const bool settled = PollUntil([] { return ServiceManagers() <= 1; });
    ASSERT_TRUE(settled)
        << "this Wine prefix runs " << ServiceManagers()
        << " service control managers; create it with \"wineboot --init; wineserver -w\" "
           "before keeping a server with \"wineserver -p\"";
    RemoveService();
    const std::string exe = platform::WideToNarrow(ModuleFolder() + L"\\restart_test_service.exe");
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

  static void RemoveService() {
    if (QueryState() == kStateNone) {
      return;
    }
    RunCommand(std::string("sc stop ") + kServiceName);
    PollUntil([] { return QueryState() == SERVICE_STOPPED; });
    RunCommand(std::string("sc delete ") + kServiceName);
    PollUntil([] { return QueryState() == kStateNone; });
  }

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
  ScopedHandle first_process(::OpenProcess(SYNCHRONIZE, FALSE, first));
  ASSERT_NE(first_process.get(), nullptr);

  testing::LogCapture capture;
  CommonUtil::RestartService();
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   RestartService Processing", "T i :    RestartService success."));

  // The old process was ended by force (it never reported a stop) ...
  EXPECT_EQ(
      ::WaitForSingleObject(first_process.get(),
                            static_cast<DWORD>(std::chrono::milliseconds(kSettleBound).count())),
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
  ASSERT_EQ(SendControl(kControlRestartYourself), static_cast<DWORD>(ERROR_SUCCESS));
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
