#include "support/linux/systemd_mock.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace halvorn::testing {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";

}  // namespace

std::string UnitPath(const std::string& unit) {
  std::string path = std::string(kSystemdManagerPath) + "/unit/" + unit;
  for (std::size_t i = std::string(kSystemdManagerPath).size() + 6; i < path.size(); ++i) {
    if (path[i] == '.') {
      path[i] = '_';
    }
  }
  return path;
}

void SystemdMockTest::SetUp() {
  if (!Executable(kDbusDaemon) || !Executable(kPython)) {
    GTEST_SKIP() << "needs " << kDbusDaemon << " and " << kPython << " with python3-dbusmock";
  }
  bus_address_ = "unix:path=" + (dir_.path() / "bus").string();
  // The daemon prints its address once it accepts connections.
  const std::filesystem::path daemon_out = dir_.path() / "dbus-daemon.out";
  ASSERT_TRUE(daemon_.Start({kDbusDaemon, "--session", "--nofork", "--nopidfile",
                             "--print-address=1", "--address=" + bus_address_},
                            daemon_out));
  ASSERT_TRUE(PollUntil([&] {
    std::ifstream in(daemon_out);
    std::string line;
    return std::getline(in, line) && line.rfind("unix:", 0) == 0;
  })) << "dbus-daemon did not come up";
  SetEnv("DBUS_SYSTEM_BUS_ADDRESS", bus_address_);
  sd_bus* raw = nullptr;
  ASSERT_GE(sd_bus_open_system(&raw), 0);
  bus_.reset(raw);

  calls_log_ = dir_.path() / "calls.log";
  ASSERT_TRUE(mock_.Start({kPython, "-m", "dbusmock", "--system", "--template", "systemd",
                           "--logfile", calls_log_.string()},
                          dir_.path() / "dbusmock.out"));
  const bool up = PollUntil([this] { return mock_.Running() && HasSystemd(); });
  if (!up) {
    std::ifstream in(dir_.path() / "dbusmock.out");
    std::stringstream ss;
    ss << in.rdbuf();
    if (ss.str().find("No module named dbusmock") != std::string::npos) {
      GTEST_SKIP() << "needs python3-dbusmock for " << kPython;
    }
    FAIL() << "the systemd mock did not come up: " << ss.str();
  }
  ASSERT_NO_FATAL_FAILURE(AddLoadUnit());
}

void SystemdMockTest::AddLoadUnit() {
  MockCall(kSystemdManagerPath, "AddMethod", "sssss", kSystemdManager, "LoadUnit", "s", "o",
           "name = args[0]\n"
           "if name not in self.units:\n"
           "    path = '/org/freedesktop/systemd1/unit/' + name.replace('.', '_')\n"
           "    self.AddObject(path, 'org.freedesktop.systemd1.Unit',\n"
           "                   {'Id': name, 'LoadState': 'not-found',\n"
           "                    'ActiveState': 'inactive'}, [])\n"
           "    self.units[name] = path\n"
           "ret = self.units[name]\n");
}

void SystemdMockTest::TearDown() {
  UnsetEnv("DBUS_SYSTEM_BUS_ADDRESS");
}

bool SystemdMockTest::HasSystemd() {
  sd_bus_message* reply = nullptr;
  int r =
      sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s", kSystemd);
  ScopedMessage owned(reply);
  int has = 0;
  return r >= 0 && sd_bus_message_read(reply, "b", &has) >= 0 && has != 0;
}

void SystemdMockTest::InstallUnit(const std::string& unit, std::uint32_t main_pid) {
  ASSERT_NO_FATAL_FAILURE(MockCall(kSystemdManagerPath, "AddMockUnit", "s", unit.c_str()));
  ASSERT_NO_FATAL_FAILURE(MockCall(UnitPath(unit).c_str(), "AddProperty", "ssv",
                                   "org.freedesktop.systemd1.Service", "MainPID", "u", main_pid));
}

void SystemdMockTest::MarkCalls() {
  calls_offset_ = std::filesystem::file_size(calls_log_);
}

std::vector<std::string> SystemdMockTest::Calls() const {
  std::ifstream in(calls_log_);
  in.seekg(static_cast<std::streamoff>(calls_offset_));
  std::vector<std::string> calls;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(line.find(' ') + 1);
    if (line.find(" raised: ") != std::string::npos || line.rfind("emit ", 0) == 0) {
      continue;
    }
    // The mock's Get reads through its own GetAll, which logs as well.
    if (!calls.empty() && line.rfind("GetAll ", 0) == 0 &&
        calls.back().rfind("Get " + line.substr(7) + ".", 0) == 0) {
      continue;
    }
    calls.push_back(line.substr(0, line.find(" [")));
  }
  return calls;
}

}  // namespace halvorn::testing
