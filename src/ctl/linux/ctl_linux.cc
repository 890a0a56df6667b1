// The tool's system facts on Linux: the unit's state from systemd over the system D-Bus
// (sd-bus), and root, which the firmware tables and the registry file need.
//
//   Manager.LoadUnit(unit)        the unit's object; LoadState "not-found": not installed.
//                                 LoadUnit rather than GetUnit: systemd unloads an inactive
//                                 unit that nothing references, and GetUnit would miss it.
//   Unit.ActiveState, SubState    "active (running)", "inactive (dead)", "failed (failed)"
//   Service.MainPID               the running main process, 0 when none

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ctl/ctl_platform.h"
#include "util/linux/sd_bus_handles.h"

namespace halvorn::ctl_platform {

const char kServiceName[] = "halvornd.service";
const char kStartCommand[] = "systemctl start halvornd.service";

namespace {

using namespace systemd1;  // the names of systemd's interface

// A string property; empty when it cannot be read.
std::string StringProperty(sd_bus* bus, const char* path, const char* name) {
  ScopedBusError error;
  char* value = nullptr;
  if (sd_bus_get_property_string(bus, kDestination, path, kUnitInterface, name, error.get(),
                                 &value) < 0) {
    return {};
  }
  std::string text = value;
  std::free(value);
  return text;
}

ServiceFacts Unknown(const std::string& why) {
  ServiceFacts facts;
  facts.state = ServiceState::kUnknown;
  facts.detail = why;
  return facts;
}

}  // namespace

static ServiceFacts AskServiceManager() {
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) {
    return Unknown(std::string("the system bus cannot be reached: ") + std::strerror(-r));
  }
  ScopedBus bus(raw);

  ScopedBusError error;
  sd_bus_message* reply_raw = nullptr;
  r = sd_bus_call_method(bus.get(), kDestination, kManagerPath, kManagerInterface, "LoadUnit",
                         error.get(), &reply_raw, "s", kServiceName);
  ScopedMessage reply(reply_raw);
  if (r < 0) {
    const std::string text = error.text();
    return Unknown("systemd cannot be asked: " + (text.empty() ? std::strerror(-r) : text));
  }
  const char* path_raw = nullptr;
  if (sd_bus_message_read(reply.get(), "o", &path_raw) < 0 || path_raw == nullptr) {
    return Unknown("systemd gave no unit object");
  }
  const std::string path = path_raw;

  ServiceFacts facts;
  const std::string load_state = StringProperty(bus.get(), path.c_str(), "LoadState");
  const std::string active = StringProperty(bus.get(), path.c_str(), "ActiveState");
  const std::string sub = StringProperty(bus.get(), path.c_str(), "SubState");
  if (load_state == "not-found") {
    facts.state = ServiceState::kNotInstalled;
    facts.detail = "no such unit";
    return facts;
  }
  if (active.empty()) {
    return Unknown("systemd gave no ActiveState");
  }
  if (active == "active" || active == "reloading") {
    facts.state = ServiceState::kRunning;
  } else if (active == "activating") {
    facts.state = ServiceState::kStarting;
  } else if (active == "deactivating") {
    facts.state = ServiceState::kStopping;
  } else {
    facts.state = ServiceState::kStopped;  // inactive, failed, maintenance
  }
  facts.detail = sub.empty() ? active : active + " (" + sub + ")";

  ScopedBusError pid_error;
  std::uint32_t pid = 0;
  if (sd_bus_get_property_trivial(bus.get(), kDestination, path.c_str(), kServiceInterface,
                                  "MainPID", pid_error.get(), 'u', &pid) >= 0) {
    facts.process_id = pid;
  }
  return facts;
}

static std::string ProcessPrivilegeProblem() {
  if (::geteuid() != 0) {
    return "must run as root to read the firmware tables and the registry file";
  }
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
