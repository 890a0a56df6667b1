// The restart on Linux: systemd over the system D-Bus (sd-bus of libsystemd).
//
// The service "TessaryCorvexSVC" is the systemd unit "TessaryCorvexSVC.service": the
// installed name stays the same on both builds and appears as it is in the log.
//
//   service manager   a connection to the system bus (sd_bus_open_system, which honours
//                     DBUS_SYSTEM_BUS_ADDRESS)
//   open service      Manager.LoadUnit; a unit whose LoadState is "not-found" is not
//                     installed (not found). LoadUnit rather than GetUnit: systemd unloads an
//                     inactive unit that nothing references, and GetUnit would miss it.
//   process id        the unit's Service.MainPID (0 when it has no running main process)
//   launch            Manager.StartTransientUnit of a oneshot service that runs the two
//                     commands one after the other, the first one's failure ignored.
//
// Why a transient unit: the commands must outlive the service's own process, and systemd
// ends every process of a service's control group with it; a child we forked would die with
// us half-way through the restart. The transient unit lives in its own control group, is
// started by systemd as root (the elevated verb) with no terminal (the hidden window), and
// is collected once it has run, whether it worked or not.
//
// The commands, in the order of the Windows command line:
//   running process   /bin/kill -9 <pid>, then /bin/systemctl restart <unit>
//   no process        /bin/systemctl stop <unit>, then /bin/systemctl start <unit>
// "restart" rather than "start" after the kill: kill returns before systemd has seen the
// process die, and a start job for a unit that still counts as active does nothing, leaving
// the service dead. A restart job of a unit that is still active first waits for it to
// stop; of a failed or inactive unit it is a start.
//
// Outcomes: sd-bus gives a failure as a negative errno, mapping a D-Bus error it knows to one;
// the error's name, when the reply carried one, is read first, so that a refusal or a missing
// unit is that outcome whatever errno it was given. An errno with no outcome of its own is kept
// as it is.

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "util/linux/os_status_linux.h"
#include "util/linux/sd_bus_handles.h"
#include "util/os_status.h"
#include "util/platform.h"
#include "util/restart_platform.h"

namespace halvorn::restart_platform {

namespace {

using namespace systemd1;  // the names of systemd's interface
constexpr const char* kUnitSuffix = ".service";
constexpr const char* kKill = "/bin/kill";
constexpr const char* kSystemctl = "/bin/systemctl";

// An sd-bus result (negative errno on failure) as an outcome; `error` is the call's D-Bus error,
// if it has one.
OsStatus Status(int r, const sd_bus_error* error = nullptr) {
  if (r >= 0) {
    return OsStatus::Ok();
  }
  if (error != nullptr && sd_bus_error_is_set(error)) {
    if (sd_bus_error_has_name(error, SD_BUS_ERROR_ACCESS_DENIED) ||
        sd_bus_error_has_name(error, SD_BUS_ERROR_AUTH_FAILED) ||
        sd_bus_error_has_name(error, SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED)) {
      return OsStatus::Of(OsOutcome::kAccessDenied);
    }
    if (sd_bus_error_has_name(error, "org.freedesktop.systemd1.NoSuchUnit")) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    if (sd_bus_error_has_name(error, SD_BUS_ERROR_NO_MEMORY)) {
      return OsStatus::Of(OsOutcome::kOutOfMemory);
    }
  }
  return StatusOfErrno(-r);
}

OsStatus OpenSystemBus(ScopedBus* bus) {
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) {
    return Status(r);
  }
  bus->reset(raw);
  return OsStatus::Ok();
}

std::string UnitName(const std::wstring& service_name) {
  return platform::WideToNarrow(service_name) + kUnitSuffix;
}

struct Command {
  std::vector<std::string> argv;  // argv[0] is the absolute path
  bool ignore_failure = false;
};

std::vector<Command> RestartCommands(const RestartRequest& request) {
  const std::string unit = UnitName(request.service_name);
  if (request.end_process_id > 0) {
    return {{{kKill, "-9", std::to_string(request.end_process_id)}, true},
            {{kSystemctl, "restart", unit}, false}};
  }
  return {{{kSystemctl, "stop", unit}, true}, {{kSystemctl, "start", unit}, false}};
}

int AppendStringProperty(sd_bus_message* m, const char* name, const std::string& value) {
  return sd_bus_message_append(m, "(sv)", name, "s", value.c_str());
}

// ExecStart=, a(sasb): path, argv, ignore failure.
int AppendExecStart(sd_bus_message* m, const std::vector<Command>& commands) {
  int r = sd_bus_message_open_container(m, SD_BUS_TYPE_STRUCT, "sv");
  if (r >= 0) {
    r = sd_bus_message_append(m, "s", "ExecStart");
  }
  if (r >= 0) {
    r = sd_bus_message_open_container(m, SD_BUS_TYPE_VARIANT, "a(sasb)");
  }
  if (r >= 0) {
    r = sd_bus_message_open_container(m, SD_BUS_TYPE_ARRAY, "(sasb)");
  }
  for (const Command& command : commands) {
    if (r < 0) {
      break;
    }
    std::vector<char*> argv;
    for (const std::string& arg : command.argv) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    r = sd_bus_message_open_container(m, SD_BUS_TYPE_STRUCT, "sasb");
    if (r >= 0) {
      r = sd_bus_message_append(m, "s", command.argv[0].c_str());
    }
    if (r >= 0) {
      r = sd_bus_message_append_strv(m, argv.data());
    }
    if (r >= 0) {
      r = sd_bus_message_append(m, "b", command.ignore_failure ? 1 : 0);
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(m);
    }
  }
  for (int level = 0; level < 3 && r >= 0; ++level) {
    r = sd_bus_message_close_container(m);
  }
  return r;
}

class SystemdService final : public Service {
 public:
  SystemdService(sd_bus* bus, std::string path) : bus_(sd_bus_ref(bus)), path_(std::move(path)) {}

  OsStatus QueryProcessId(std::uint32_t* process_id) override {
    ScopedBusError error;
    std::uint32_t pid = 0;
    int r = sd_bus_get_property_trivial(bus_.get(), kDestination, path_.c_str(), kServiceInterface,
                                        "MainPID", error.get(), 'u', &pid);
    if (r < 0) {
      return Status(r, error.get());
    }
    *process_id = pid;
    return OsStatus::Ok();
  }

 private:
  ScopedBus bus_;
  std::string path_;
};

class SystemdManager final : public ServiceManager {
 public:
  explicit SystemdManager(ScopedBus bus) : bus_(std::move(bus)) {}

  // No rights are asked for up front: systemd checks each call itself.
  OsStatus OpenService(const std::wstring& name, std::unique_ptr<Service>* service) override {
    const std::string unit = UnitName(name);
    ScopedBusError error;
    sd_bus_message* raw_reply = nullptr;
    int r = sd_bus_call_method(bus_.get(), kDestination, kManagerPath, kManagerInterface,
                               "LoadUnit", error.get(), &raw_reply, "s", unit.c_str());
    if (r < 0) {
      return Status(r, error.get());
    }
    ScopedMessage reply(raw_reply);
    const char* path = nullptr;
    r = sd_bus_message_read(reply.get(), "o", &path);
    if (r < 0) {
      return Status(r);
    }
    const std::string unit_path = path;
    char* load_state = nullptr;
    r = sd_bus_get_property_string(bus_.get(), kDestination, unit_path.c_str(), kUnitInterface,
                                   "LoadState", error.get(), &load_state);
    if (r < 0) {
      return Status(r, error.get());
    }
    const bool not_found = std::strcmp(load_state, "not-found") == 0;
    std::free(load_state);
    if (not_found) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    *service = std::make_unique<SystemdService>(bus_.get(), unit_path);
    return OsStatus::Ok();
  }

 private:
  ScopedBus bus_;
};

class SystemdPlatform final : public Platform {
 public:
  OsStatus OpenServiceManager(std::unique_ptr<ServiceManager>* manager) override {
    ScopedBus bus;
    if (const OsStatus opened = OpenSystemBus(&bus); !opened.ok()) {
      return opened;
    }
    *manager = std::make_unique<SystemdManager>(std::move(bus));
    return OsStatus::Ok();
  }

  // Carries out the request's facts; its command line is the command interpreter's, which
  // this system does not have.
  OsStatus Launch(const RestartRequest& request) override {
    ScopedBus bus;
    if (const OsStatus opened = OpenSystemBus(&bus); !opened.ok()) {
      return opened;
    }
    const std::string unit = UnitName(request.service_name);
    // Named after the calling process, so that a restart unit of an earlier instance that is
    // still being collected does not clash with this one.
    const std::string restart_unit = platform::WideToNarrow(request.service_name) + "-restart-" +
                                     std::to_string(::getpid()) + kUnitSuffix;

    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus.get(), &raw, kDestination, kManagerPath,
                                           kManagerInterface, "StartTransientUnit");
    if (r < 0) {
      return Status(r);
    }
    ScopedMessage call(raw);
    r = sd_bus_message_append(call.get(), "ss", restart_unit.c_str(), "fail");
    if (r >= 0) {
      r = sd_bus_message_open_container(call.get(), SD_BUS_TYPE_ARRAY, "(sv)");
    }
    if (r >= 0) {
      r = AppendStringProperty(call.get(), "Description", "Restart of " + unit);
    }
    if (r >= 0) {
      r = AppendStringProperty(call.get(), "Type", "oneshot");
    }
    if (r >= 0) {
      r = AppendStringProperty(call.get(), "CollectMode", "inactive-or-failed");
    }
    if (r >= 0) {
      r = AppendExecStart(call.get(), RestartCommands(request));
    }
    if (r >= 0) {
      r = sd_bus_message_close_container(call.get());
    }
    if (r >= 0) {
      r = sd_bus_message_append(call.get(), "a(sa(sv))", 0);
    }
    if (r < 0) {
      return Status(r);
    }
    // The reply names the queued job; the job itself is not waited for.
    ScopedBusError error;
    sd_bus_message* raw_reply = nullptr;
    r = sd_bus_call(bus.get(), call.get(), 0, error.get(), &raw_reply);
    ScopedMessage reply(raw_reply);
    return Status(r, error.get());
  }
};

}  // namespace

Platform& SystemPlatform() {
  static SystemdPlatform platform;
  return platform;
}

}  // namespace halvorn::restart_platform
