// The restart against systemd's D-Bus interface, as played by python3-dbusmock's systemd
// template on a private bus that each test starts for itself (DBUS_SYSTEM_BUS_ADDRESS points
// the real backend at it). Checks the calls systemd receives, in order, the transient unit
// that would carry out the restart, and the log lines. Needs dbus-daemon and Debian's
// python3 with dbusmock; skipped, with the reason, without them.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "util/common_util.h"

extern char** environ;

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kSystemd = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";
constexpr const char* kUnit = "TessaryCorvexSVC.service";
constexpr const char* kUnitPath = "/org/freedesktop/systemd1/unit/TessaryCorvexSVC_service";
constexpr auto kStartBound = std::chrono::seconds(30);

// A child process, ended (SIGTERM) and reaped when destroyed.
class Child {
 public:
  Child() = default;
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts argv with standard output and error going to `output`.
  bool Start(const std::vector<std::string>& args, const std::filesystem::path& output) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int r = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
      pid_ = 0;
    }
    return r == 0;
  }

  bool Running() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) != 0) {
      pid_ = 0;  // reaped: never signal a reused id
    }
    return pid_ > 0;
  }

 private:
  pid_t pid_ = 0;
};

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using ScopedBus = std::unique_ptr<sd_bus, BusDeleter>;
struct MessageDeleter {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using ScopedMessage = std::unique_ptr<sd_bus_message, MessageDeleter>;

class ScopedBusError {
 public:
  ~ScopedBusError() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }
  std::string text() const { return error_.message != nullptr ? error_.message : ""; }

 private:
  sd_bus_error error_ = {nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL, without its C compound literal
};

bool PollUntil(const std::function<bool()>& reached) {
  const auto deadline = std::chrono::steady_clock::now() + kStartBound;
  while (!reached()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

bool Executable(const char* path) {
  return ::access(path, X_OK) == 0;
}

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

class RestartSystemdTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
    testing::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", bus_address_);
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

  // LoadUnit as systemd answers it (the template lacks it): the unit's object, also for a
  // unit that is not installed, whose LoadState then reads "not-found".
  void AddLoadUnit() {
    MockCall(kManagerPath, "AddMethod", "sssss", kManager, "LoadUnit", "s", "o",
             "name = args[0]\n"
             "if name not in self.units:\n"
             "    path = '/org/freedesktop/systemd1/unit/' + name.replace('.', '_')\n"
             "    self.AddObject(path, 'org.freedesktop.systemd1.Unit',\n"
             "                   {'Id': name, 'LoadState': 'not-found',\n"
             "                    'ActiveState': 'inactive'}, [])\n"
             "    self.units[name] = path\n"
             "ret = self.units[name]\n");
  }

  void TearDown() override { testing::UnsetEnv("DBUS_SYSTEM_BUS_ADDRESS"); }

  bool HasSystemd() {
    sd_bus_message* reply = nullptr;
    int r =
        sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s", kSystemd);
    ScopedMessage owned(reply);
    int has = 0;
    return r >= 0 && sd_bus_message_read(reply, "b", &has) >= 0 && has != 0;
  }

  template <class... Args>
  void MockCall(const char* path, const char* method, const char* types, Args... args) {
    ScopedBusError error;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_.get(), kSystemd, path, kMock, method, error.get(), &reply,
                               types, args...);
    ScopedMessage owned(reply);
    ASSERT_GE(r, 0) << method << ": " << error.text();
  }

  // The installed unit, with the main process id systemd reports for it.
  void InstallUnit(std::uint32_t main_pid) {
    ASSERT_NO_FATAL_FAILURE(MockCall(kManagerPath, "AddMockUnit", "s", kUnit));
    ASSERT_NO_FATAL_FAILURE(MockCall(kUnitPath, "AddProperty", "ssv",
                                     "org.freedesktop.systemd1.Service", "MainPID", "u", main_pid));
  }

  // Method calls systemd received from here on: the log file's lines without their time
  // stamps, cut before the first array argument. The failures and signals the mock logs are
  // not calls.
  void MarkCalls() { calls_offset_ = std::filesystem::file_size(calls_log_); }
  std::vector<std::string> Calls() const {
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

  static std::string RestartUnitName() {
    return "TessaryCorvexSVC-restart-" + std::to_string(::getpid()) + ".service";
  }

  testing::TempDir dir_;
  std::string bus_address_;
  Child daemon_;
  Child mock_;
  ScopedBus bus_;
  std::filesystem::path calls_log_;
  std::uintmax_t calls_offset_ = 0;
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
       {kProcessing, "T i :   OpenService TessaryCorvexSVC error:2"},  // ENOENT
       {kLoadUnit, kGetLoadState}},
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
       {kProcessing, "T i :    RestartService failed.Error = 0xd"},  // EACCES
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
              ElementsAre(kProcessing, "T i :   OpenSCManager fail(2)"));  // ENOENT
  EXPECT_THAT(Calls(), IsEmpty());
}

}  // namespace
}  // namespace halvorn
