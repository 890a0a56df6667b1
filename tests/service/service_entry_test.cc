// The process entry: what it sets up, in which order, the exit code, and the end of logging.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "service/service_entry.h"
#include "support/log_capture.h"
#include "util/log_helper.h"

namespace halvorn::service {
namespace {

using ::testing::ElementsAre;

class FakeEntryPlatform final : public EntryPlatform {
 public:
  explicit FakeEntryPlatform(std::uint32_t dispatcher_result) : result_(dispatcher_result) {}
  void InstallCrashFilter() override { calls.push_back("crash filter"); }
  void PrepareService() override { calls.push_back("prepare"); }
  std::uint32_t RunDispatcher() override {
    calls.push_back("dispatcher");
    LogHelper::Print(LogInfo, "ServiceMain", "service ran");
    return result_;
  }
  void AwaitServiceMain() override { calls.push_back("await service main"); }
  void EndProcessNow(std::uint32_t code) override {
    // Logging is already down: this line must not reach the file.
    LogHelper::Print(LogInfo, "wmain", "after the end");
    calls.push_back("end " + std::to_string(code));
  }

  std::vector<std::string> calls;

 private:
  std::uint32_t result_;
};

struct EntryCase {
  const char* name;
  std::uint32_t dispatcher_result;
  std::uint32_t code;
  std::string last_line;
};

TEST(ServiceEntryTest, RunAndEnd) {
  const EntryCase cases[] = {
      {"AsAService", 0, 0, "T i :   Halvorn: Main: Exit"},
      // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: started from a console.
      {"FromAConsole", 1063, 1063,
       "T i :   Halvorn: Main: StartServiceCtrlDispatcher returned error : 1063"},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::FileLogCapture capture;  // points the program-data folder at a fresh one
    LogHelper::Shutdown();            // RunServiceProcess starts logging itself
    FakeEntryPlatform platform(c.dispatcher_result);
    const std::uint32_t code = RunServiceProcess(platform, "Jan  5 2024", "08:03:09");
    EXPECT_EQ(code, c.code);
    EndServiceProcess(platform, code);
    EXPECT_THAT(platform.calls, ElementsAre("crash filter", "prepare", "dispatcher",
                                            "await service main", "end " + std::to_string(c.code)));
    // After the start-up lines of the second start.
    const std::vector<std::string> all = capture.AllLines();
    const auto start_end = std::find(all.rbegin(), all.rend(),
                                     "T h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime");
    ASSERT_NE(start_end, all.rend());
    EXPECT_THAT(std::vector<std::string>(start_end.base(), all.end()),
                ElementsAre("T i :   Modem_ServiceMain Entry BUILD Jan  5 2024-08:03:09",
                            "T i :   service ran", c.last_line));
  }
}

}  // namespace
}  // namespace halvorn::service
