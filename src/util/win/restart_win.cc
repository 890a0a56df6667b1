// The restart on Windows: the Service Control Manager and ShellExecuteExW. The request is
// carried out by the command interpreter, elevated ("runas") and hidden, running the request's
// command line; the interpreter is not waited for.

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <cstring>

#include "util/restart_platform.h"
#include "util/win/os_status_win.h"
#include "util/win/scoped_handle.h"

namespace halvorn::restart_platform {

namespace {

// The rights the restart needs: the whole manager, and of the service its status, start and
// stop.
constexpr DWORD kManagerAccess = SC_MANAGER_ALL_ACCESS;
constexpr DWORD kServiceAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;
static_assert(kManagerAccess == 0xF003F && kServiceAccess == 0x34);

// The thread's last error as an outcome; a failure that left no error still fails.
OsStatus Fail() {
  const DWORD error = ::GetLastError();
  return StatusOfWindowsError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
}

class WinService final : public Service {
 public:
  explicit WinService(SC_HANDLE handle) : handle_(handle) {}

  OsStatus QueryProcessId(std::uint32_t* process_id) override {
    constexpr DWORD kBufferBytes = 1024;
    alignas(SERVICE_STATUS_PROCESS) std::array<BYTE, kBufferBytes> buffer{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(handle_.get(), SC_STATUS_PROCESS_INFO, buffer.data(), kBufferBytes,
                                &needed)) {
      return Fail();
    }
    SERVICE_STATUS_PROCESS status;
    std::memcpy(&status, buffer.data(), sizeof status);
    *process_id = status.dwProcessId;
    return OsStatus::Ok();
  }

 private:
  win::ScopedServiceHandle handle_;
};

class WinServiceManager final : public ServiceManager {
 public:
  explicit WinServiceManager(SC_HANDLE handle) : handle_(handle) {}

  OsStatus OpenService(const std::wstring& name, std::unique_ptr<Service>* service) override {
    SC_HANDLE handle = ::OpenServiceW(handle_.get(), name.c_str(), kServiceAccess);
    if (handle == nullptr) {
      return Fail();
    }
    *service = std::make_unique<WinService>(handle);
    return OsStatus::Ok();
  }

 private:
  win::ScopedServiceHandle handle_;
};

class WinPlatform final : public Platform {
 public:
  OsStatus OpenServiceManager(std::unique_ptr<ServiceManager>* manager) override {
    SC_HANDLE handle = ::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, kManagerAccess);
    if (handle == nullptr) {
      return Fail();
    }
    *manager = std::make_unique<WinServiceManager>(handle);
    return OsStatus::Ok();
  }

  OsStatus Launch(const RestartRequest& request) override {
    SHELLEXECUTEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = L"cmd.exe";
    info.lpParameters = request.command_line.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&info)) {
      return Fail();
    }
    // The launched interpreter is not waited for; only its handle is let go.
    win::ScopedHandle process(info.hProcess);
    return OsStatus::Ok();
  }
};

static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "64-bit launch request layout");

}  // namespace

Platform& SystemPlatform() {
  static WinPlatform platform;
  return platform;
}

}  // namespace halvorn::restart_platform
