// The log folder on Linux against levels and files of another account and levels that others
// may write, and the mode start-up gives the levels it makes. Changing an owner needs root.

#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_folder_test_support.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using testing::kOldLog;
using testing::LogCapture;
using testing::LogFolderLevels;
using testing::MakeOldLog;
using testing::TempDir;

constexpr uid_t kNobody = 65534;
constexpr const char* kOtherOwner =
    "is owned by another account than the system, the administrators or the service";

TEST(LogFolderOwnerTest, StartUpRefusesALevelOfAnotherAccountOrThatOthersMayWrite) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root: a level of another account is made with chown";
  }
  struct Case {
    int level;
    uid_t owner;
    mode_t mode;
    const char* reason;
  } cases[] = {
      {0, kNobody, 0755, kOtherOwner},
      {2, kNobody, 0755, kOtherOwner},
      {1, 0, 0775, "can be written by other accounts"},
      {2, 0, 0757, "can be written by other accounts"},
      {0, 0, 01777, "can be written by other accounts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    SCOPED_TRACE(c.mode);
    TempDir root;
    const std::vector<fs::path> levels = LogFolderLevels(root.path());
    fs::create_directories(levels[c.level]);
    ASSERT_EQ(::chown(levels[c.level].c_str(), c.owner, 0), 0);
    ASSERT_EQ(::chmod(levels[c.level].c_str(), c.mode), 0);
    MakeOldLog(levels[c.level] / kOldLog);
    bool logging = true;
    const std::string err = testing::StartUpLogging(root.path().string(), &logging);
    EXPECT_FALSE(logging);
    EXPECT_EQ(err, "halvorn: log folder " + levels[c.level].string() + " " + c.reason +
                       "; logging and the folder trim are off\n");
    // Nothing made in it, nothing deleted from it.
    if (c.level < 2) {
      EXPECT_FALSE(fs::exists(levels[c.level + 1]));
    }
    EXPECT_TRUE(fs::exists(levels[c.level] / kOldLog));
  }
}

TEST(LogFolderOwnerTest, CleanupKeepsAFileOfAnotherAccount) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root: a file of another account is made with chown";
  }
  TempDir dir;
  const fs::path file = dir.path() / kOldLog;
  MakeOldLog(file);
  ASSERT_EQ(::chown(file.c_str(), kNobody, 0), 0);
  std::vector<std::string> lines;
  {
    LogCapture capture;
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(), dir.path().string());
    lines = capture.Lines();
  }
  EXPECT_TRUE(fs::exists(file));
  EXPECT_THAT(lines,
              Contains("T i :   log file " + file.string() + " " + kOtherOwner + ": not deleted"));
}

TEST(LogFolderOwnerTest, StartUpMakesLevelsReadableByAllWritableByItsAccountOnly) {
  for (mode_t mask : {mode_t{0}, mode_t{002}, mode_t{077}}) {
    SCOPED_TRACE(mask);
    TempDir root;
    const mode_t before = ::umask(mask);
    bool logging = false;
    const std::string err = testing::StartUpLogging(root.path().string(), &logging);
    ::umask(before);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(logging);
    for (const fs::path& level : LogFolderLevels(root.path())) {
      struct stat st {};
      ASSERT_EQ(::lstat(level.c_str(), &st), 0) << level;
      EXPECT_EQ(st.st_mode & 07777, 0755u) << level;
    }
  }
}

}  // namespace
}  // namespace halvorn
