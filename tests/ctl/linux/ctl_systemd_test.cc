// halvornctl's service query against systemd's D-Bus interface, as played by python3-dbusmock's
// systemd template on a private bus (support/linux/systemd_mock.h): the unit's states as the
// tool reports them, and a bus or a systemd that cannot be reached.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "ctl/ctl_platform.h"
#include "support/linux/systemd_mock.h"

namespace halvorn {
namespace {

using ctl_platform::ServiceFacts;
using ctl_platform::ServiceState;
using ::testing::HasSubstr;

constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";

class CtlSystemdTest : public testing::SystemdMockTest {
 protected:
  // The unit installed, with a SubState (the template gives it none).
  void Install() {
    ASSERT_NO_FATAL_FAILURE(InstallUnit(ctl_platform::kServiceName, 0));
    ASSERT_NO_FATAL_FAILURE(
        MockCall(Path().c_str(), "AddProperty", "ssv", kUnitInterface, "SubState", "s", "dead"));
  }
  void SetState(const char* active, const char* sub, std::uint32_t pid) {
    ASSERT_NO_FATAL_FAILURE(MockCall(Path().c_str(), "UpdateProperties", "sa{sv}", kUnitInterface,
                                     2, "ActiveState", "s", active, "SubState", "s", sub));
    ASSERT_NO_FATAL_FAILURE(MockCall(Path().c_str(), "UpdateProperties", "sa{sv}",
                                     "org.freedesktop.systemd1.Service", 1, "MainPID", "u", pid));
  }
  static std::string Path() { return testing::UnitPath(ctl_platform::kServiceName); }
};

TEST_F(CtlSystemdTest, UnitNotInstalled) {
  MarkCalls();
  const ServiceFacts facts = ctl_platform::SystemCtlPlatform().QueryService();
  EXPECT_EQ(facts.state, ServiceState::kNotInstalled);
  EXPECT_EQ(facts.detail, "no such unit");
  EXPECT_EQ(facts.process_id, 0u);
  // Read-only: the unit is looked up, never started or stopped.
  EXPECT_EQ(Calls().front(), std::string("LoadUnit \"") + ctl_platform::kServiceName + "\"");
  for (const std::string& call : Calls()) {
    EXPECT_THAT(
        call, ::testing::AnyOf(::testing::StartsWith("LoadUnit "), ::testing::StartsWith("Get ")));
  }
}

TEST_F(CtlSystemdTest, UnitStates) {
  struct Case {
    const char* active;
    const char* sub;
    std::uint32_t pid;
    ServiceState state;
    const char* detail;
  };
  const Case cases[] = {
      {"active", "running", 777, ServiceState::kRunning, "active (running)"},
      {"reloading", "reload", 777, ServiceState::kRunning, "reloading (reload)"},
      {"activating", "start", 0, ServiceState::kStarting, "activating (start)"},
      {"deactivating", "stop-sigterm", 777, ServiceState::kStopping, "deactivating (stop-sigterm)"},
      {"inactive", "dead", 0, ServiceState::kStopped, "inactive (dead)"},
      {"failed", "failed", 0, ServiceState::kStopped, "failed (failed)"},
  };
  ASSERT_NO_FATAL_FAILURE(Install());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.active);
    ASSERT_NO_FATAL_FAILURE(SetState(c.active, c.sub, c.pid));
    const ServiceFacts facts = ctl_platform::SystemCtlPlatform().QueryService();
    EXPECT_EQ(facts.state, c.state);
    EXPECT_EQ(facts.detail, c.detail);
    EXPECT_EQ(facts.process_id, c.pid);
  }
}

TEST_F(CtlSystemdTest, UnreachableBusOrSystemd) {
  testing::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir_.path() / "absent").string());
  ServiceFacts facts = ctl_platform::SystemCtlPlatform().QueryService();
  EXPECT_EQ(facts.state, ServiceState::kUnknown);
  EXPECT_EQ(facts.detail, "the system bus cannot be reached: No such file or directory");

  // A systemd that refuses the lookup.
  testing::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", bus_address_);
  ASSERT_NO_FATAL_FAILURE(MockCall(testing::kSystemdManagerPath, "AddMethod", "sssss",
                                   testing::kSystemdManager, "LoadUnit", "s", "o",
                                   "raise dbus.exceptions.DBusException('no', "
                                   "name='org.freedesktop.DBus.Error.AccessDenied')"));
  facts = ctl_platform::SystemCtlPlatform().QueryService();
  EXPECT_EQ(facts.state, ServiceState::kUnknown);
  EXPECT_THAT(facts.detail, HasSubstr("systemd cannot be asked: no"));
}

}  // namespace
}  // namespace halvorn
