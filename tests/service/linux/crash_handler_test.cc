// The crash handler, read back by Debian's lldb: a real fault (and an abort) in a small program
// that installs the handler, and `kill -SEGV` of the running daemon. Each crash leaves one
// minidump named from a new GUID in the executable's folder, writes "Fatal Error" and ends as
// aborted.

#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "service/win/dump_files.h"  // portable: the dump checks of both builds
#include "support/linux/child_process.h"
#include "support/log_capture.h"

namespace halvorn::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kLldb = "/usr/bin/lldb";
constexpr auto kBound = std::chrono::seconds(120);

// lldb's view of a dump: the stop reason and the backtraces.
std::string Lldb(const std::filesystem::path& program,
                 const std::filesystem::path& dump,
                 const std::filesystem::path& out,
                 const char* command) {
  Child lldb;
  if (!lldb.Start(
          {kLldb, "--batch", "--no-lldbinit", "-c", dump.string(), program.string(), "-o", command},
          out)) {
    return "lldb did not start";
  }
  lldb.WaitForExit(kBound);
  return ReadFile(out);
}

class CrashHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Executable(kLldb)) {
      GTEST_SKIP() << "needs " << kLldb << " (Debian package lldb) to read the dumps";
    }
  }

  // A copy of `program` in a folder of the test: the dumps land beside it.
  std::filesystem::path Install(const char* program) {
    const std::filesystem::path copy = dir_.path() / std::filesystem::path(program).filename();
    std::filesystem::copy_file(program, copy);
    return copy;
  }

  // The process ends as aborted, with "Fatal Error" on standard error.
  void ExpectFatalEnd(Child& child, const std::filesystem::path& output) {
    const std::optional<int> status = child.WaitForExit(kBound);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT) << "status " << *status;
    EXPECT_THAT(ReadFile(output), HasSubstr("Fatal Error\n"));
  }

  TempDir dir_;
};

TEST_F(CrashHandlerTest, RealFaultsLeaveADumpEachThatLldbOpens) {
  const std::filesystem::path program = Install(CRASH_PROGRAM_PATH);
  struct Fault {
    const char* argument;
    const char* signal;
  };
  // Two threads that fault together leave one dump: the second waits for the first's.
  const Fault faults[] = {{"segv", "SIGSEGV"}, {"abort", "SIGABRT"}, {"threads", "SIGSEGV"}};
  std::size_t dumps = 0;
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.argument);
    Child child;
    const std::filesystem::path output = dir_.path() / (std::string(f.argument) + ".out");
    ASSERT_TRUE(child.Start({program.string(), f.argument}, output));
    ASSERT_NO_FATAL_FAILURE(ExpectFatalEnd(child, output));
    // One new file per crash; none replaces another.
    ASSERT_NO_FATAL_FAILURE(ExpectGuidNamedMinidumps(dir_.path(), ++dumps));
    const std::vector<std::filesystem::path> now = Dumps(dir_.path());
    std::filesystem::path dump;
    for (const auto& d : now) {
      if (std::filesystem::last_write_time(d) >=
          std::filesystem::last_write_time(dump.empty() ? d : dump)) {
        dump = d;
      }
    }
    const std::string view =
        Lldb(program, dump, dir_.path() / (std::string(f.argument) + ".lldb"), "thread backtrace");
    EXPECT_THAT(view, HasSubstr(std::string("signal ") + f.signal)) << view;
    EXPECT_THAT(view, HasSubstr("crash_test::CrashHere")) << view;
    EXPECT_THAT(view, HasSubstr("crash_test::CallerOfCrash")) << view;
    if (std::string(f.argument) != "threads") {
      EXPECT_THAT(view, HasSubstr("main")) << view;
    }
  }
}

TEST_F(CrashHandlerTest, KillSegvOfTheRunningDaemonLeavesADump) {
  const std::filesystem::path program = Install(HALVORND_PATH);
  SetEnv("programdata", dir_.path().string());
  SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir_.path() / "no-bus").string());
  Child daemon;
  const std::filesystem::path output = dir_.path() / "halvornd.out";
  ASSERT_TRUE(daemon.Start({program.string()}, output));
  UnsetEnv("programdata");
  UnsetEnv("DBUS_SYSTEM_BUS_ADDRESS");
  // Running: its main routine has queued the task.
  ASSERT_TRUE(PollUntil(
      [&] {
        for (const std::string& line : ReadLogFolder(LogFolderUnder(dir_.path()))) {
          if (line.find("KService mbn new success!") != std::string::npos) {
            return true;
          }
        }
        return false;
      },
      kBound));
  daemon.Signal(SIGSEGV);
  ASSERT_NO_FATAL_FAILURE(ExpectFatalEnd(daemon, output));
  ASSERT_NO_FATAL_FAILURE(ExpectGuidNamedMinidumps(dir_.path(), 1));
  const std::vector<std::filesystem::path> dumps = Dumps(dir_.path());
  const std::string view =
      Lldb(program, dumps[0], dir_.path() / "lldb.out", "thread backtrace all");
  EXPECT_THAT(view, HasSubstr("signal SIGSEGV")) << view;
  // The threads of the service, each blocked where it waits, with our function names.
  EXPECT_THAT(view, HasSubstr("halvorn::service::SystemdServiceManager::RunDispatcher")) << view;
  EXPECT_THAT(view, HasSubstr("halvorn::service::KService::Run")) << view;
  EXPECT_THAT(view, HasSubstr("main")) << view;
}

}  // namespace
}  // namespace halvorn::testing
