// Test support (Linux): a private D-Bus with one python3-dbusmock template on it, standing in
// for the system bus (DBUS_SYSTEM_BUS_ADDRESS points at it while the object lives).

#ifndef HALVORN_TESTS_SUPPORT_LINUX_DBUS_MOCK_H_
#define HALVORN_TESTS_SUPPORT_LINUX_DBUS_MOCK_H_

#include <systemd/sd-bus.h>

#include <filesystem>
#include <string>

#include "support/linux/child_process.h"
#include "support/log_capture.h"

namespace halvorn::testing {

class DbusMock {
 public:
  DbusMock() = default;
  ~DbusMock();
  DbusMock(const DbusMock&) = delete;
  DbusMock& operator=(const DbusMock&) = delete;

  // Starts the bus and the mock of `template_name`, which owns `bus_name`. The calls it gets
  // are logged to calls_log(). Empty on success; else why it could not start, with `*skip`
  // telling a missing tool (skip the test) from a failure.
  std::string Start(const std::string& template_name, const char* bus_name, bool* skip);

  sd_bus* bus() { return bus_; }
  const std::string& address() const { return address_; }
  const std::filesystem::path& calls_log() const { return calls_log_; }
  bool HasName(const char* name);
  // Ends the mock (the name leaves the bus) and starts it again.
  std::string Restart();
  // Ends the bus itself (every connection to it is lost).
  void EndBus();
  // After EndBus: a new bus at the same address, with a new mock on it. Empty on success.
  std::string BringBusBack();

 private:
  std::string StartBus();
  std::string StartMock();

  TempDir dir_;
  std::string address_;
  std::string template_;
  std::string name_;
  std::filesystem::path calls_log_;
  Child daemon_;
  Child mock_;
  sd_bus* bus_ = nullptr;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SUPPORT_LINUX_DBUS_MOCK_H_
