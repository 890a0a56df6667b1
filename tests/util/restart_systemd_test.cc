// The restart against systemd's D-Bus interface, as played by python3-dbusmock's systemd
// template on a private bus that each test starts for itself (support/linux/systemd_mock.h;
// DBUS_SYSTEM_BUS_ADDRESS points the real backend at it). Checks the calls systemd receives, in
// order, the transient unit that would carry out the restart, and the log lines. Needs dbus-daemon
// and Debian's python3 with dbusmock; skipped, with the reason, without them.

#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/linux/systemd_mock.h"
#include "support/log_capture.h"
#include "util/common_util.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using testing::kDbusMock;
using testing::kSystemd;
constexpr const char* kManagerPath = testing::kSystemdManagerPath;
constexpr const char* kManager = testing::kSystemdManager;
constexpr const char* kMock = kDbusMock;
constexpr const char* kUnit = "TessaryCorvexSVC.service";
constexpr const char* kUnitPath = "/org/freedesktop/systemd1/unit/TessaryCorvexSVC_service";

// One command of ExecStart=, as "path [argv...]" with " (failure ignored)" when so marked.
std::string ReadExecCommand(sd_bus_message* m) {
  const char* path = nullptr;
  char** argv = nullptr;
  int ignore = 0;
  if (sd_bus_message_read(m, "s", &path) < 0 || sd_bus_message_read_strv(m, &argv) < 0 ||
      sd_bus_message_read(m, "b", &ignore) < 0) {
    return "<unreadable>";
  }
  std::string text = std::string(path) + " [";
  for (char** arg = argv; arg != nullptr && *arg != nullptr; ++arg) {
    text += (arg == argv ? "" : " ") + std::string(*arg);
    std::free(*arg);
  }
  std::free(argv);
  return text + "]" + (ignore != 0 ? " (failure ignored)" : "");
}

// The properties of a StartTransientUnit call (a(sv)) as "Name=value" lines; ExecStart=
// gives one line per command.
std::vector<std::string> ReadTransientProperties(sd_bus_message* m) {
  std::vector<std::string> out;
  if (sd_bus_message_enter_container(m, 'a', "(sv)") < 0) {
    return {"<unreadable>"};
  }
  while (sd_bus_message_enter_container(m, 'r', "sv") > 0) {
    const char* name = nullptr;
    sd_bus_message_read(m, "s", &name);
    const std::string key = name;
    const char* contents = nullptr;
    sd_bus_message_peek_type(m, nullptr, &contents);
    if (key == "ExecStart" && contents != nullptr && std::string(contents) == "a(sasb)") {
      sd_bus_message_enter_container(m, 'v', "a(sasb)");
      sd_bus_message_enter_container(m, 'a', "(sasb)");
      while (sd_bus_message_enter_container(m, 'r', "sasb") > 0) {
        out.push_back("ExecStart=" + ReadExecCommand(m));
        sd_bus_message_exit_container(m);
      }
      sd_bus_message_exit_container(m);
      sd_bus_message_exit_container(m);
    } else if (contents != nullptr && std::string(contents) == "s") {
      const char* value = nullptr;
      sd_bus_message_read(m, "v", "s", &value);
      out.push_back(key + "=" + value);
    } else {
      sd_bus_message_skip(m, "v");
      out.push_back(key + "=<" + (contents != nullptr ? contents : "?") + ">");
    }
    sd_bus_message_exit_container(m);
  }
  sd_bus_message_exit_container(m);
  return out;
}

class RestartSystemdTest : public testing::SystemdMockTest {
 protected:
  // The installed unit, with the main process id systemd reports for it.
  void InstallUnit(std::uint32_t main_pid) { SystemdMockTest::InstallUnit(kUnit, main_pid); }

  // The properties of every StartTransientUnit call the mock received.
  std::vector<std::vector<std::string>> TransientUnits() {
    ScopedBusError error;
    sd_bus_message* raw = nullptr;
    int r = sd_bus_call_method(bus_.get(), kSystemd, kManagerPath, kMock, "GetMethodCalls",
                               error.get(), &raw, "s", "StartTransientUnit");
    ScopedMessage reply(raw);
    std::vector<std::vector<std::string>> units;
    if (r < 0 || sd_bus_message_enter_container(raw, 'a', "(tav)") < 0) {
      ADD_FAILURE() << "GetMethodCalls: " << error.text();
      return units;
    }
    while (sd_bus_message_enter_container(raw, 'r', "tav") > 0) {
      std::uint64_t stamp = 0;
      sd_bus_message_read(raw, "t", &stamp);
      sd_bus_message_enter_container(raw, 'a', "v");
      const char* name = nullptr;
      const char* mode = nullptr;
      sd_bus_message_read(raw, "v", "s", &name);
      sd_bus_message_read(raw, "v", "s", &mode);
      std::vector<std::string> unit = {std::string("name=") + name, std::string("mode=") + mode};
      sd_bus_message_enter_container(raw, 'v', "a(sv)");
      for (std::string& property : ReadTransientProperties(raw)) {
        unit.push_back(std::move(property));
      }
      sd_bus_message_exit_container(raw);
      sd_bus_message_skip(raw, "v");
      sd_bus_message_exit_container(raw);
      sd_bus_message_exit_container(raw);
      units.push_back(std::move(unit));
    }
    return units;
  }

  // Manager.LoadUnit answers with the D-Bus error `name`.
  void RaiseFromLoadUnit(const std::string& name) {
    const std::string raise = "raise dbus.exceptions.DBusException('no', name='" + name + "')";
    ASSERT_NO_FATAL_FAILURE(MockCall(kManagerPath, "AddMethod", "sssss", kManager, "LoadUnit", "s",
                                     "o", raise.c_str()));
  }

  static std::string RestartUnitName() {
    return "TessaryCorvexSVC-restart-" + std::to_string(::getpid()) + ".service";
  }
};

constexpr const char* kProcessing = "T i :   RestartService Processing";
constexpr const char* kSuccess = "T i :    RestartService success.";
const std::string kLoadUnit = std::string("LoadUnit \"") + kUnit + "\"";
const std::string kGetLoadState =
    std::string("Get ") + kUnitPath + " org.freedesktop.systemd1.Unit.LoadState";
const std::string kGetMainPid =
    std::string("Get ") + kUnitPath + " org.freedesktop.systemd1.Service.MainPID";

TEST_F(RestartSystemdTest, RunningServiceIsKilledThenRestartedByATransientUnit) {
  ASSERT_NO_FATAL_FAILURE(InstallUnit(4321));
  MarkCalls();
  testing::LogCapture capture;
  CommonUtil::RestartService();
  EXPECT_THAT(capture.Lines(), ElementsAre(kProcessing, kSuccess));
  EXPECT_THAT(Calls(), ElementsAre(kLoadUnit, kGetLoadState, kGetMainPid,
                                   "StartTransientUnit \"" + RestartUnitName() + "\" \"fail\""));
  EXPECT_THAT(TransientUnits(),
              ElementsAre(ElementsAre(
                  "name=" + RestartUnitName(), "mode=fail",
                  "Description=Restart of TessaryCorvexSVC.service", "Type=oneshot",
                  "CollectMode=inactive-or-failed",
                  "ExecStart=/bin/kill [/bin/kill -9 4321] (failure ignored)",
                  "ExecStart=/bin/systemctl [/bin/systemctl restart TessaryCorvexSVC.service]")));
}

TEST_F(RestartSystemdTest, StoppedServiceIsStoppedThenStartedByATransientUnit) {
  ASSERT_NO_FATAL_FAILURE(InstallUnit(0));
  MarkCalls();
  testing::LogCapture capture;
  CommonUtil::RestartService();
  EXPECT_THAT(capture.Lines(), ElementsAre(kProcessing, kSuccess));
  EXPECT_THAT(Calls(), ElementsAre(kLoadUnit, kGetLoadState, kGetMainPid,
                                   "StartTransientUnit \"" + RestartUnitName() + "\" \"fail\""));
  const auto units = TransientUnits();
  ASSERT_EQ(units.size(), 1u);
  EXPECT_THAT(std::vector<std::string>(units[0].end() - 2, units[0].end()),
              ElementsAre("ExecStart=/bin/systemctl [/bin/systemctl stop "
                          "TessaryCorvexSVC.service] (failure ignored)",
                          "ExecStart=/bin/systemctl [/bin/systemctl start "
                          "TessaryCorvexSVC.service]"));
}

// Failures that end the restart early, each with its line and without anything launched.
TEST_F(RestartSystemdTest, FailuresEndTheRestartAfterTheirLine) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> lines;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"unit not installed",
       [] {},
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:2"},  // not found
       {kLoadUnit, kGetLoadState}},
      {"unit refused by name",
       [this] {
         ASSERT_NO_FATAL_FAILURE(RaiseFromLoadUnit("org.freedesktop.DBus.Error.AccessDenied"));
       },
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:5"},  // access denied
       {kLoadUnit}},
      {"no such unit by name",
       [this] {
         ASSERT_NO_FATAL_FAILURE(RaiseFromLoadUnit("org.freedesktop.systemd1.NoSuchUnit"));
       },
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:2"},  // not found
       {kLoadUnit}},
      // An error with no outcome of its own keeps the errno sd-bus gives it (EINVAL).
      {"unit load fails otherwise",
       [this] {
         ASSERT_NO_FATAL_FAILURE(RaiseFromLoadUnit("org.freedesktop.DBus.Error.InvalidArgs"));
       },
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:22"},
       {kLoadUnit}},
      {"unit without a Service interface",
       [this] { ASSERT_NO_FATAL_FAILURE(MockCall(kManagerPath, "AddMockUnit", "s", kUnit)); },
       {kProcessing, "T i :    QueryServiceStatusEx failed."},
       {kLoadUnit, kGetLoadState, kGetMainPid}},
      {"transient unit refused",
       [this] {
         ASSERT_NO_FATAL_FAILURE(InstallUnit(4321));
         ASSERT_NO_FATAL_FAILURE(MockCall(kManagerPath, "AddMethod", "sssss", kManager,
                                          "StartTransientUnit", "ssa(sv)a(sa(sv))", "o",
                                          "raise dbus.exceptions.DBusException('no', "
                                          "name='org.freedesktop.DBus.Error.AccessDenied')"));
       },
       // Access denied, printed as Windows numbers it (not as EACCES, 0xd).
       {kProcessing, "T i :    RestartService failed.Error = 0x5"},
       {kLoadUnit, kGetLoadState, kGetMainPid,
        "StartTransientUnit \"" + RestartUnitName() + "\" \"fail\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(MockCall(kManagerPath, "Reset", ""));
    // Back to the template's start, without units or added methods.
    ASSERT_NO_FATAL_FAILURE(AddLoadUnit());
    ASSERT_NO_FATAL_FAILURE(c.arrange());
    MarkCalls();
    testing::LogCapture capture;
    CommonUtil::RestartService();
    EXPECT_THAT(capture.Lines(), ElementsAreArray(c.lines));
    EXPECT_THAT(Calls(), ElementsAreArray(c.calls));
  }
}

TEST_F(RestartSystemdTest, UnreachableBusEndsTheRestartAtTheManager) {
  testing::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir_.path() / "absent").string());
  MarkCalls();
  testing::LogCapture capture;
  CommonUtil::RestartService();
  EXPECT_THAT(capture.Lines(),
              ElementsAre(kProcessing, "T i :   OpenSCManager fail(2)"));  // not found
  EXPECT_THAT(Calls(), IsEmpty());
}

}  // namespace
}  // namespace halvorn
