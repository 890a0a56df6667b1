// The tool's system facts on Windows: the service's state from the Service Control Manager.
// Reading the firmware table and the local-machine registry needs no administrator.

#include <windows.h>

#include <string>

#include "ctl/ctl_platform.h"

namespace halvorn::ctl_platform {

const char kServiceName[] = "Halvorn";
const char kStartCommand[] = "sc start Halvorn";

namespace {

// Owns a service-manager or service handle.
class ScopedScHandle {
 public:
  explicit ScopedScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScopedScHandle() {
    if (handle_ != nullptr) {
      ::CloseServiceHandle(handle_);
    }
  }
  ScopedScHandle(const ScopedScHandle&) = delete;
  ScopedScHandle& operator=(const ScopedScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

ServiceFacts Unknown(const char* what, DWORD error) {
  ServiceFacts facts;
  facts.state = ServiceState::kUnknown;
  facts.detail = std::string(what) + " failed, error " + std::to_string(error);
  return facts;
}

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "SERVICE_STOPPED";
    case SERVICE_START_PENDING:
      return "SERVICE_START_PENDING";
    case SERVICE_STOP_PENDING:
      return "SERVICE_STOP_PENDING";
    case SERVICE_RUNNING:
      return "SERVICE_RUNNING";
    case SERVICE_CONTINUE_PENDING:
      return "SERVICE_CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
      return "SERVICE_PAUSE_PENDING";
    case SERVICE_PAUSED:
      return "SERVICE_PAUSED";
    default:
      return "unknown state";
  }
}

}  // namespace

static ServiceFacts AskServiceManager() {
  ScopedScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) {
    return Unknown("OpenSCManager", ::GetLastError());
  }
  ScopedScHandle service(::OpenServiceW(manager.get(), L"Halvorn", SERVICE_QUERY_STATUS));
  if (service.get() == nullptr) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      ServiceFacts facts;
      facts.state = ServiceState::kNotInstalled;
      facts.detail = "no such service";
      return facts;
    }
    return Unknown("OpenService", error);
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
    return Unknown("QueryServiceStatusEx", ::GetLastError());
  }
  ServiceFacts facts;
  switch (status.dwCurrentState) {
    case SERVICE_RUNNING:
      facts.state = ServiceState::kRunning;
      break;
    case SERVICE_START_PENDING:
    case SERVICE_CONTINUE_PENDING:
      facts.state = ServiceState::kStarting;
      break;
    case SERVICE_STOP_PENDING:
      facts.state = ServiceState::kStopping;
      break;
    default:
      facts.state = ServiceState::kStopped;
      break;
  }
  facts.detail = StateName(status.dwCurrentState);
  facts.process_id = status.dwProcessId;
  return facts;
}

static std::string ProcessPrivilegeProblem() {
  return {};
}

namespace {

class SystemCtl final : public CtlPlatform {
 public:
  ServiceFacts QueryService() override { return AskServiceManager(); }
  std::string PrivilegeProblem() override { return ProcessPrivilegeProblem(); }
};

}  // namespace

CtlPlatform& SystemCtlPlatform() {
  static SystemCtl platform;
  return platform;
}

}  // namespace halvorn::ctl_platform
