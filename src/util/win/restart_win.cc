// The restart on Windows: the Service Control Manager and ShellExecuteExW.

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <cstring>

#include "util/restart_platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn::restart_platform {

namespace {

// The caller reads the last error through the returned code; keep the thread's last error
// equal to it as well.
long Fail() {
  DWORD error = ::GetLastError();
  return error != 0 ? static_cast<long>(error) : static_cast<long>(ERROR_GEN_FAILURE);
}

class WinService final : public Service {
 public:
  explicit WinService(SC_HANDLE handle) : handle_(handle) {}

  long QueryProcessId(std::uint32_t* process_id) override {
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
    return 0;
  }

 private:
  win::ScopedServiceHandle handle_;
};

class WinServiceManager final : public ServiceManager {
 public:
  explicit WinServiceManager(SC_HANDLE handle) : handle_(handle) {}

  long OpenService(const std::wstring& name,
                   std::uint32_t access,
                   std::unique_ptr<Service>* service) override {
    SC_HANDLE handle = ::OpenServiceW(handle_.get(), name.c_str(), access);
    if (handle == nullptr) {
      return Fail();
    }
    *service = std::make_unique<WinService>(handle);
    return 0;
  }

 private:
  win::ScopedServiceHandle handle_;
};

class WinPlatform final : public Platform {
 public:
  long OpenServiceManager(std::uint32_t access, std::unique_ptr<ServiceManager>* manager) override {
    SC_HANDLE handle = ::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access);
    if (handle == nullptr) {
      return Fail();
    }
    *manager = std::make_unique<WinServiceManager>(handle);
    return 0;
  }

  long Launch(const LaunchRequest& request) override {
    SHELLEXECUTEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = request.mask;
    info.hwnd = nullptr;
    info.lpVerb = request.verb.c_str();
    info.lpFile = request.file.c_str();
    info.lpParameters = request.parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = request.show;
    if (!::ShellExecuteExW(&info)) {
      return Fail();
    }
    // The launched interpreter is not waited for; only its handle is let go.
    win::ScopedHandle process(info.hProcess);
    return 0;
  }
};

static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "64-bit launch request layout");

}  // namespace

Platform& SystemPlatform() {
  static WinPlatform platform;
  return platform;
}

}  // namespace halvorn::restart_platform
