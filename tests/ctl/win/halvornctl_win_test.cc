// halvornctl.exe under Wine (or on Windows): the service manager's answer about "Halvorn" as
// the real backend reads it, and the program itself on a machine without the vendor's modem: a
// clear verdict, its exit code, and nothing written where the service logs. Wine has no
// mobile-broadband adapter, so the vendor check cannot pass; whether the runtime reports a
// modem at all depends on whether the prefix has the fake runtime provider registered (the
// end-to-end test registers it), so either verdict of those two is right here.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ctl/ctl_platform.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using ctl_platform::ServiceState;
using ::testing::HasSubstr;

// The service "Halvorn" in the service manager for the life of the object, never started.
class InstalledService {
 public:
  InstalledService() {
    manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_ == nullptr) {
      return;
    }
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    service_ =
        ::CreateServiceW(manager_, L"Halvorn", L"Halvorn", SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         self, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  ~InstalledService() {
    if (service_ != nullptr) {
      ::DeleteService(service_);
      ::CloseServiceHandle(service_);
    }
    if (manager_ != nullptr) {
      ::CloseServiceHandle(manager_);
    }
  }
  InstalledService(const InstalledService&) = delete;
  InstalledService& operator=(const InstalledService&) = delete;
  bool ok() const { return service_ != nullptr; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

TEST(HalvornCtlWinServiceTest, NotInstalledThenInstalledAndStopped) {
  ctl_platform::ServiceFacts facts = ctl_platform::SystemCtlPlatform().QueryService();
  EXPECT_EQ(facts.state, ServiceState::kNotInstalled) << facts.detail;
  {
    InstalledService service;
    ASSERT_TRUE(service.ok()) << ::GetLastError();
    facts = ctl_platform::SystemCtlPlatform().QueryService();
    EXPECT_EQ(facts.state, ServiceState::kStopped);
    EXPECT_EQ(facts.detail, "SERVICE_STOPPED");
    EXPECT_EQ(facts.process_id, 0u);
  }
  EXPECT_EQ(ctl_platform::SystemCtlPlatform().QueryService().state, ServiceState::kNotInstalled);
  EXPECT_EQ(ctl_platform::SystemCtlPlatform().PrivilegeProblem(), "");
}

struct ProgramRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs halvornctl.exe with `arguments`, its output and errors into files of `dir`.
ProgramRun RunProgram(const std::wstring& arguments, const std::filesystem::path& dir) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::filesystem::path out_path = dir / "out.txt";
  const std::filesystem::path err_path = dir / "err.txt";
  HANDLE out = ::CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = ::CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring command = L"\"" HALVORN_CTL_EXE L"\" " + arguments;
  PROCESS_INFORMATION process{};
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
    if (::WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(process.hProcess, &run.exit_code);
    } else {
      ::TerminateProcess(process.hProcess, 9);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(out);
  ::CloseHandle(err);
  run.out = ReadAll(out_path);
  run.err = ReadAll(err_path);
  return run;
}

TEST(HalvornCtlWinProgramTest, WithoutTheVendorsModemAClearVerdictAndNothingIsLogged) {
  testing::TempDir programdata;
  testing::TempDir outputs;
  testing::SetEnv("programdata", programdata.path().string());

  const ProgramRun text = RunProgram(L"status", outputs.path());
  EXPECT_EQ(text.exit_code, 1u) << text.out << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_THAT(text.out, HasSubstr("Service          Halvorn: not-installed (no such service)"));
  EXPECT_THAT(text.out, HasSubstr("Last run         no log folder " + programdata.path().string() +
                                  "\\Tessary Wireless Inc\\Brevane\\VK20T"));
  const bool no_modem = text.out.find("Modem            none found") != std::string::npos;
  EXPECT_THAT(text.out, HasSubstr(no_modem ? "Modem            none found"
                                           : "Modem            present, not the vendor's"));
  EXPECT_THAT(text.out, HasSubstr(no_modem ? "Verdict          blocked: no MBIM modem is present"
                                           : "Verdict          blocked: the modem is not the "
                                             "vendor's: the service does not handle it"));

  const ProgramRun json = RunProgram(L"status --json", outputs.path());
  EXPECT_EQ(json.exit_code, 1u) << json.err;
  const nlohmann::json j = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << json.out;
  EXPECT_EQ(j["schema_version"], 1);
  EXPECT_EQ(j["verdict"]["blocked_by"], no_modem ? "no-modem" : "foreign-modem");
  EXPECT_TRUE(j["radio"]["level"].is_null());
  EXPECT_EQ(j["service"]["state"], "not-installed");
  EXPECT_EQ(j["last_run"]["status"], "no-log-folder");
  EXPECT_EQ(j["exit_code"], 1);

  const ProgramRun wrong = RunProgram(L"status --verbose", outputs.path());
  EXPECT_EQ(wrong.exit_code, 2u);
  EXPECT_THAT(wrong.err, HasSubstr("halvornctl: unknown argument \"--verbose\""));
  EXPECT_EQ(wrong.out, "");

  // The logging facade was never started: no folder, no file.
  EXPECT_TRUE(std::filesystem::is_empty(programdata.path()));
  testing::UnsetEnv("programdata");
}

}  // namespace
}  // namespace halvorn
