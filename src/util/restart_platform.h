// Service-manager operations that the service restart needs, per build. Neutral facts only:
// every call returns the outcome of the system's call (util/os_status.h), never the number one
// system gives it; restart.cc decides what happens next, and maps an outcome back to the
// Windows error number where its line prints one.

#ifndef HALVORN_UTIL_RESTART_PLATFORM_H_
#define HALVORN_UTIL_RESTART_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>

#include "util/os_status.h"

namespace halvorn::restart_platform {

// What the restart means, handed over to be carried out detached from the caller, elevated
// and without a window: end `end_process_id` by force (0: none; stop the service instead),
// then start `service_name` again, whatever the first step's outcome.
struct RestartRequest {
  std::uint32_t end_process_id = 0;
  std::wstring service_name;
  // The same two steps as the command interpreter's "/C ..." line (restart.h,
  // BuildRestartParameters), for a system that runs them through one.
  std::wstring command_line;
};

// An open service, with the rights to query, start and stop it; closed when destroyed.
class Service {
 public:
  virtual ~Service() = default;
  // The id of the service's running process, 0 when it has none.
  virtual OsStatus QueryProcessId(std::uint32_t* process_id) = 0;
};

// An open connection to the service manager, with every right; closed when destroyed.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual OsStatus OpenService(const std::wstring& name, std::unique_ptr<Service>* service) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // The local machine's service manager, active database.
  virtual OsStatus OpenServiceManager(std::unique_ptr<ServiceManager>* manager) = 0;
  // Starts the request and returns without waiting for it.
  virtual OsStatus Launch(const RestartRequest& request) = 0;
};

// The running system's service manager.
Platform& SystemPlatform();

}  // namespace halvorn::restart_platform

#endif  // HALVORN_UTIL_RESTART_PLATFORM_H_
