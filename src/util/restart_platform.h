// Service-manager operations that the service restart needs, per build. Raw results only:
// every call returns 0 or the system's error code for the failure (GetLastError on Windows,
// an errno value on Linux); restart.cc decides what happens next and logs.

#ifndef HALVORN_UTIL_RESTART_PLATFORM_H_
#define HALVORN_UTIL_RESTART_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>

namespace halvorn::restart_platform {

inline constexpr std::uint32_t kScManagerAllAccess = 0xF003F;
// SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP.
inline constexpr std::uint32_t kServiceQueryStartStop = 0x34;
inline constexpr std::uint32_t kSeeMaskNoCloseProcess = 0x40;
inline constexpr int kSwHide = 0;

// What the restart asks the system to run, detached from the caller.
struct LaunchRequest {
  std::uint32_t mask = kSeeMaskNoCloseProcess;
  std::wstring verb;        // "runas": elevated
  std::wstring file;        // "cmd.exe"
  std::wstring parameters;  // the command interpreter's "/C ..." line
  int show = kSwHide;
  // The facts the parameters were built from, for a system without a command interpreter:
  // the process to end first (0: none; stop the service instead), then the service to
  // start again.
  std::uint32_t end_process_id = 0;
  std::wstring service_name;
};

// An open service; closed when destroyed.
class Service {
 public:
  virtual ~Service() = default;
  // The id of the service's running process, 0 when it has none.
  virtual long QueryProcessId(std::uint32_t* process_id) = 0;
};

// An open connection to the service manager; closed when destroyed.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual long OpenService(const std::wstring& name,
                           std::uint32_t access,
                           std::unique_ptr<Service>* service) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // The local machine's service manager, active database.
  virtual long OpenServiceManager(std::uint32_t access,
                                  std::unique_ptr<ServiceManager>* manager) = 0;
  // Starts the request and returns without waiting for it.
  virtual long Launch(const LaunchRequest& request) = 0;
};

// The running system's service manager.
Platform& SystemPlatform();

}  // namespace halvorn::restart_platform

#endif  // HALVORN_UTIL_RESTART_PLATFORM_H_
