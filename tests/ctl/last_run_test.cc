// The service's last run, read from its log files.

#include "ctl/last_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"

namespace halvorn {
namespace {

constexpr const char* kEnter = "2026-12-10 09:00:01.000 00001a2b h : + CTaskAuthModule::doJob\r\n";
constexpr const char* kLeave = "2026-12-10 09:00:01.300 00001a2b h : - CTaskAuthModule::doJob\r\n";

struct TextCase {
  const char* name;
  std::string text;
  LastRun::Status status;
  std::optional<AuthOutcome> outcome;
  const char* time;
  bool cut_line;
};

void PrintTo(const TextCase& c, std::ostream* os) {
  *os << c.name;
}

std::string Line(const char* time, const char* kind_and_message) {
  return std::string(time) + " 00001a2b " + kind_and_message + "\r\n";
}

const TextCase kTextCases[] = {
    {"Empty", "", LastRun::Status::kNoRun, std::nullopt, "", false},
    {"OneRun", kEnter + Line("2026-12-10 09:00:01.250", "i :   MBIM FUN 1!") + kLeave,
     LastRun::Status::kFound, AuthOutcome::kLevelIsOne, "2026-12-10 09:00:01.250", false},
    // The last of several runs counts.
    {"LastOfTwoRuns",
     kEnter +
         Line("2026-12-10 09:00:01.250",
              "e :   GetMbimCfun failed, ReInit Mbim. Wait for "
              "retry!!!") +
         kLeave + kEnter + Line("2026-12-10 09:00:06.500", "i :   SET MBIM FUN SUCCESS!") + kLeave,
     LastRun::Status::kFound, AuthOutcome::kLevelSet, "2026-12-10 09:00:06.500", false},
    // The helper writes "MBIM Device is not exist." too; only the line before the job's exit
    // line is the job's outcome.
    {"HelperLineIsNotAnOutcome",
     kEnter + Line("2026-12-10 09:00:01.100", "i :   MBIM Device is not exist.") +
         Line("2026-12-10 09:00:01.110", "h : - CMbnWinRtHelper::GetMbimCfun") +
         Line("2026-12-10 09:00:01.120",
              "e :   GetMbimCfun failed, ReInit Mbim. Wait for retry!!!") +
         kLeave,
     LastRun::Status::kFound, AuthOutcome::kLevelUnreadable, "2026-12-10 09:00:01.120", false},
    // A run still going (no exit line yet) is not finished.
    {"RunInProgress",
     kEnter + Line("2026-12-10 09:00:01.100", "i :   Read IsDisableVerify = 0(False)"),
     LastRun::Status::kNoRun, std::nullopt, "", false},
    // The same words at the other code are not the outcome.
    {"WrongCode", kEnter + Line("2026-12-10 09:00:01.250", "e :   MBIM FUN 1!") + kLeave,
     LastRun::Status::kNoRun, std::nullopt, "", false},
    // A file cut in the middle of the outcome line: that line does not count.
    {"CutOutcomeLine",
     kEnter + Line("2026-12-10 09:00:01.250", "i :   MBIM FUN 1!") + kLeave + kEnter +
         "2026-12-10 09:00:06.250 00001a2b i :   SET MBIM F",
     LastRun::Status::kFound, AuthOutcome::kLevelIsOne, "2026-12-10 09:00:01.250", true},
    {"CutExitLine",
     kEnter + Line("2026-12-10 09:00:01.250", "i :   MBIM FUN 1!") +
         "2026-12-10 09:00:01.300 00001a2b h : - CTaskAuthModule::doJob",
     LastRun::Status::kNoRun, std::nullopt, "", true},
    // Lines ended by "\n" alone (a file copied through a text tool) are read as well.
    {"BareLineFeeds",
     "2026-12-10 09:00:01.250 00001a2b e :   Invalid Modem in this platform.\n"
     "2026-12-10 09:00:01.300 00001a2b h : - CTaskAuthModule::doJob\n",
     LastRun::Status::kFound, AuthOutcome::kPlatformRefused, "2026-12-10 09:00:01.250", false},
    {"Garbage", std::string("\0\0\xff\n\n short\n", 12), LastRun::Status::kNoRun, std::nullopt, "",
     false},
};

class LastRunTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(LastRunTextTest, Finds) {
  const TextCase& c = GetParam();
  const LastRun run = FindLastRunInText(c.text);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.outcome, c.outcome);
  EXPECT_EQ(run.time, c.time);
  EXPECT_EQ(run.cut_line, c.cut_line);
}

INSTANTIATE_TEST_SUITE_P(Logs,
                         LastRunTextTest,
                         ::testing::ValuesIn(kTextCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

constexpr const char* kOld = "tessary_brevane_monitor_VK20T_2026-12-09_08.00.00.log";
constexpr const char* kNew = "tessary_brevane_monitor_VK20T_2026-12-10_09.00.00.log";
constexpr const char* kNew1 = "tessary_brevane_monitor_VK20T_2026-12-10_09.00.00.1.log";
constexpr const char* kNew2 = "tessary_brevane_monitor_VK20T_2026-12-10_09.00.00.2.log";
constexpr const char* kNew10 = "tessary_brevane_monitor_VK20T_2026-12-10_09.00.00.10.log";

TEST(NewestStartFilesTest, TheNewestStartsFilesNewestFirst) {
  using V = std::vector<std::string>;
  EXPECT_EQ(NewestStartFiles({kNew10, kOld, kNew2, kNew, kNew1}), (V{kNew, kNew1, kNew2, kNew10}));
  // Rotated files only: the file being written is gone (the trim never deletes it, a person
  // may have).
  EXPECT_EQ(NewestStartFiles({kOld, kNew2, kNew1}), (V{kNew1, kNew2}));
  // Other names are not log files of the service.
  EXPECT_EQ(NewestStartFiles({"tessary_brevane_monitor_VK20T_2026-12-11_09.00.00.x.log",
                              "tessary_brevane_monitor_VK20T_2026-12-11_09.00.00.0.log",
                              "tessary_brevane_monitor_VK20T_2026-12-11.log", "other.log", kOld}),
            (V{kOld}));
  EXPECT_EQ(NewestStartFiles({}), V{});
}

class LastRunFolderTest : public ::testing::Test {
 protected:
  void Write(const char* name, const std::string& text) {
    std::ofstream(dir_.path() / name, std::ios::binary) << text;
  }
  testing::TempDir dir_;
};

TEST_F(LastRunFolderTest, MissingFolderAndEmptyFolder) {
  EXPECT_EQ(FindLastRun(SystemLogFolderPlatform(), "").status, LastRun::Status::kNoFolder);
  const std::string missing = (dir_.path() / "VK20T").string();
  LastRun run = FindLastRun(SystemLogFolderPlatform(), missing);
  EXPECT_EQ(run.status, LastRun::Status::kNoFolder);
  EXPECT_EQ(run.folder, missing);
  Write("notes.txt", "x");
  run = FindLastRun(SystemLogFolderPlatform(), dir_.path().string());
  EXPECT_EQ(run.status, LastRun::Status::kNoLogFile);
}

TEST_F(LastRunFolderTest, NewestFileThenItsRotatedFiles) {
  const std::string run_a = kEnter + Line("2026-12-09 08:00:01.250", "i :   MBIM FUN 1!") + kLeave;
  const std::string run_b =
      kEnter + Line("2026-12-10 09:00:01.250", "i :   SET MBIM FUN SUCCESS!") + kLeave;
  Write(kOld, run_a);
  Write(kNew1, run_b);
  // The file being written holds no finished run yet: its last line is cut.
  Write(kNew, "2026-12-10 09:10:00.000 00001a2b h : + CTaskAuthModule::do");
  LastRun run = FindLastRun(SystemLogFolderPlatform(), dir_.path().string());
  EXPECT_EQ(run.status, LastRun::Status::kFound);
  EXPECT_EQ(run.outcome, AuthOutcome::kLevelSet);
  EXPECT_EQ(run.log_file, kNew1);
  EXPECT_TRUE(run.cut_line);  // of the newest file

  // No finished run in any file of the newest start: the older start does not stand in.
  Write(kNew1, "");
  run = FindLastRun(SystemLogFolderPlatform(), dir_.path().string());
  EXPECT_EQ(run.status, LastRun::Status::kNoRun);
  EXPECT_EQ(run.log_file, kNew);
  EXPECT_FALSE(run.outcome.has_value());
}

}  // namespace
}  // namespace halvorn
