// Test support: python3-dbusmock's systemd template on a private bus that each test starts for
// itself, with DBUS_SYSTEM_BUS_ADDRESS pointed at it so that the real sd-bus code under test
// talks to it. Needs dbus-daemon and Debian's python3 with dbusmock; a test skips, with the
// reason, without them.

#ifndef HALVORN_TESTS_SUPPORT_LINUX_SYSTEMD_MOCK_H_
#define HALVORN_TESTS_SUPPORT_LINUX_SYSTEMD_MOCK_H_

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/linux/child_process.h"
#include "support/log_capture.h"
#include "util/linux/sd_bus_handles.h"

namespace halvorn::testing {

inline constexpr const char* kSystemd = systemd1::kDestination;
inline constexpr const char* kSystemdManagerPath = systemd1::kManagerPath;
inline constexpr const char* kSystemdManager = systemd1::kManagerInterface;
inline constexpr const char* kDbusMock = "org.freedesktop.DBus.Mock";

// The object path systemd gives a unit ("a.service": ".../unit/a_service").
std::string UnitPath(const std::string& unit);

// A fixture with the mock systemd running. LoadUnit is added to the template, as systemd
// answers it: the unit's object, also for a unit that is not installed, whose LoadState then
// reads "not-found".
class SystemdMockTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void AddLoadUnit();
  bool HasSystemd();

  template <class... Args>
  void MockCall(const char* path, const char* method, const char* types, Args... args) {
    ScopedBusError error;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_.get(), kSystemd, path, kDbusMock, method, error.get(), &reply,
                               types, args...);
    ScopedMessage owned(reply);
    ASSERT_GE(r, 0) << method << ": " << error.text();
  }

  // An installed unit, with the main process id systemd reports for it.
  void InstallUnit(const std::string& unit, std::uint32_t main_pid);

  // Method calls systemd received from here on: the log file's lines without their time
  // stamps, cut before the first array argument. The failures and signals the mock logs are
  // not calls.
  void MarkCalls();
  std::vector<std::string> Calls() const;

  TempDir dir_;
  std::string bus_address_;
  Child daemon_;
  Child mock_;
  ScopedBus bus_;
  std::filesystem::path calls_log_;
  std::uintmax_t calls_offset_ = 0;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SUPPORT_LINUX_SYSTEMD_MOCK_H_
