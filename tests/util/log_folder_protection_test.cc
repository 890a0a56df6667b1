// The log folder against links put in place of its levels or files, on the build's real file
// system: start-up writes nothing through a linked level, and the cleanup neither cleans a
// linked folder nor deletes or follows a linked file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_folder_test_support.h"
#include "util/log_helper.h"
#include "util/platform.h"

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::kOldLog;
using testing::LogCapture;
using testing::LogFolderLevels;
using testing::MakeOldLog;
using testing::TempDir;

constexpr const char* kEnter = "T h : + LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
constexpr const char* kLeave = "T h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
bool IsEmpty(const fs::path& folder) {
  return fs::directory_iterator(folder) == fs::directory_iterator();
}

std::string Text(const fs::path& path) {
  return path.string();
}

TEST(LogFolderProtectionTest, StartUpWritesNothingThroughALinkedLevel) {
  for (int linked = 0; linked < 3; ++linked) {
    SCOPED_TRACE(linked);
    TempDir root;
    TempDir outside;
    const std::vector<fs::path> levels = LogFolderLevels(root.path());
    if (linked > 0) {
      fs::create_directories(levels[linked - 1]);
    }
    std::error_code ec;
    fs::create_directory_symlink(outside.path(), levels[linked], ec);
    ASSERT_FALSE(ec) << "cannot make a directory link: " << ec.message();
    bool logging = true;
    const std::string err = testing::StartUpLogging(root.path().string(), &logging);
    EXPECT_FALSE(logging);
    EXPECT_TRUE(IsEmpty(outside.path()));
    EXPECT_EQ(err, "halvorn: log folder " + Text(levels[linked]) +
                       " is a junction or symbolic link; logging and the folder trim are off\n");
  }
}

TEST(LogFolderProtectionTest, CleanupLeavesALinkedFolderAlone) {
  TempDir outside;
  MakeOldLog(outside.path() / kOldLog);
  TempDir dir;
  const fs::path link = dir.path() / "VK20T";
  std::error_code ec;
  fs::create_directory_symlink(outside.path(), link, ec);
  ASSERT_FALSE(ec) << "cannot make a directory link: " << ec.message();
  std::vector<std::string> lines;
  {
    LogCapture capture;
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(), link.string());
    lines = capture.Lines();
  }
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_THAT(
      lines,
      ElementsAre(
          kEnter, "T i :   check path : " + Text(link) + sep + "tessary_brevane_monitor_*.log ",
          "T i :   log folder " + Text(link) + " is a junction or symbolic link: not cleaned",
          kLeave));
  EXPECT_TRUE(fs::exists(outside.path() / kOldLog));
}

TEST(LogFolderProtectionTest, CleanupLeavesAFolderBelowALinkedLevelAlone) {
  TempDir root;
  TempDir outside;
  const fs::path behind = outside.path() / LogHelper::kProductFolder / LogHelper::kLogSubFolder;
  fs::create_directories(behind);
  MakeOldLog(behind / kOldLog);
  std::error_code ec;
  fs::create_directory_symlink(outside.path(), LogFolderLevels(root.path())[0], ec);
  ASSERT_FALSE(ec) << "cannot make a directory link: " << ec.message();
  testing::SetEnv("programdata", root.path().string());
  LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(),
                                                 Text(LogFolderLevels(root.path())[2]));
  EXPECT_TRUE(fs::exists(behind / kOldLog));
}

TEST(LogFolderProtectionTest, CleanupNeitherDeletesNorFollowsALinkedFile) {
  TempDir outside;
  MakeOldLog(outside.path() / "target.log");
  TempDir dir;
  const fs::path link = dir.path() / kOldLog;
  std::error_code ec;
  fs::create_symlink(outside.path() / "target.log", link, ec);
  ASSERT_FALSE(ec) << "cannot make a file link: " << ec.message();
  std::vector<std::string> lines;
  {
    LogCapture capture;
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(), dir.path().string());
    lines = capture.Lines();
  }
  // Not even counted: only the check-path line stands between the trace lines.
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::exists(outside.path() / "target.log"));
}

}  // namespace
}  // namespace halvorn
