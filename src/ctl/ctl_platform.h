// What the diagnosis tool asks of the operating system beyond the lower layers, per build:
// the service's state from the system's service manager and whether this process may read
// everything the checks read. Raw facts only; status.h decides.

#ifndef HALVORN_CTL_CTL_PLATFORM_H_
#define HALVORN_CTL_CTL_PLATFORM_H_

#include <cstdint>
#include <string>

namespace halvorn::ctl_platform {

// The service as the system's service manager sees it.
enum class ServiceState {
  kRunning,
  kStarting,
  kStopping,
  kStopped,       // installed, not running (also: failed, paused)
  kNotInstalled,  // the manager knows no such service
  kUnknown,       // the manager could not be asked
};

struct ServiceFacts {
  ServiceState state = ServiceState::kUnknown;
  // The manager's own words for the state ("active (running)", "SERVICE_STOPPED"), or why it
  // could not be asked.
  std::string detail;
  std::uint32_t process_id = 0;  // 0: no running process
};

// The service's name for its manager: the systemd unit "halvornd.service" on Linux, the
// service "Halvorn" on Windows.
extern const char kServiceName[];
// The command an administrator starts it with.
extern const char kStartCommand[];

class CtlPlatform {
 public:
  virtual ~CtlPlatform() = default;

  // Asks the service manager about kServiceName. Linux: the unit's ActiveState, SubState and
  // MainPID over the system D-Bus (DBUS_SYSTEM_BUS_ADDRESS is honoured). Windows:
  // QueryServiceStatusEx.
  virtual ServiceFacts QueryService() = 0;

  // Why this process cannot read what the checks read, in words for the person running the
  // tool; empty when it can. Linux: the firmware tables and the registry file need root.
  virtual std::string PrivilegeProblem() = 0;
};

// The service manager and the privileges of this process's system (win/ctl_win.cc,
// linux/ctl_linux.cc).
CtlPlatform& SystemCtlPlatform();

}  // namespace halvorn::ctl_platform

#endif  // HALVORN_CTL_CTL_PLATFORM_H_
