#include "support/linux/dbus_mock.h"

#include <csignal>

namespace halvorn::testing {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";

}  // namespace

DbusMock::~DbusMock() {
  if (bus_ != nullptr) {
    sd_bus_flush_close_unref(bus_);
  }
  UnsetEnv("DBUS_SYSTEM_BUS_ADDRESS");
}

std::string DbusMock::Start(const std::string& template_name, const char* bus_name, bool* skip) {
  *skip = true;
  if (!Executable(kDbusDaemon) || !Executable(kPython)) {
    return std::string("needs ") + kDbusDaemon + " and " + kPython + " with python3-dbusmock";
  }
  *skip = false;
  template_ = template_name;
  name_ = bus_name;
  address_ = "unix:path=" + (dir_.path() / "bus").string();
  SetEnv("DBUS_SYSTEM_BUS_ADDRESS", address_);
  if (std::string error = StartBus(); !error.empty()) {
    return error;
  }
  calls_log_ = dir_.path() / "calls.log";
  const std::string error = StartMock();
  if (error.find("No module named dbusmock") != std::string::npos) {
    *skip = true;
    return std::string("needs python3-dbusmock for ") + kPython;
  }
  return error;
}

std::string DbusMock::StartBus() {
  // The daemon prints its address once it accepts connections.
  const std::filesystem::path daemon_out = dir_.path() / "dbus-daemon.out";
  std::filesystem::remove(daemon_out);
  if (!daemon_.Start({kDbusDaemon, "--session", "--nofork", "--nopidfile", "--print-address=1",
                      "--address=" + address_},
                     daemon_out)) {
    return "dbus-daemon did not start";
  }
  if (!PollUntil([&] { return ReadFile(daemon_out).rfind("unix:", 0) == 0; })) {
    return "dbus-daemon did not come up";
  }
  if (sd_bus_open_system(&bus_) < 0) {
    return "cannot connect to the private bus";
  }
  return {};
}

std::string DbusMock::BringBusBack() {
  if (bus_ != nullptr) {
    sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
  }
  // The mock lost its bus with everyone else; whatever is left of it goes.
  mock_.Signal(SIGTERM);
  mock_.WaitForExit(std::chrono::seconds(30));
  std::filesystem::remove(dir_.path() / "bus");
  if (std::string error = StartBus(); !error.empty()) {
    return error;
  }
  return StartMock();
}

std::string DbusMock::StartMock() {
  const std::filesystem::path out = dir_.path() / "dbusmock.out";
  if (!mock_.Start({kPython, "-m", "dbusmock", "--system", "--template", template_, "--logfile",
                    calls_log_.string()},
                   out)) {
    return "dbusmock did not start";
  }
  if (!PollUntil([this] { return mock_.Running() && HasName(name_.c_str()); })) {
    return "the " + template_ + " mock did not come up: " + ReadFile(out);
  }
  return {};
}

std::string DbusMock::Restart() {
  mock_.Signal(SIGTERM);
  if (!mock_.WaitForExit(std::chrono::seconds(30)) ||
      !PollUntil([this] { return !HasName(name_.c_str()); })) {
    return "the mock did not end";
  }
  return StartMock();
}

void DbusMock::EndBus() {
  daemon_.Signal(SIGTERM);
  daemon_.WaitForExit(std::chrono::seconds(30));
}

bool DbusMock::HasName(const char* name) {
  sd_bus_message* reply = nullptr;
  const int r =
      sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s", name);
  int has = 0;
  const bool owned = r >= 0 && sd_bus_message_read(reply, "b", &has) >= 0 && has != 0;
  sd_bus_message_unref(reply);
  return owned;
}

}  // namespace halvorn::testing
