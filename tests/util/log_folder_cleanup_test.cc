#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FileLogCapture;
using testing::LogCapture;
using testing::TempDir;

constexpr const char* kEnter = "T h : + LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
constexpr const char* kLeave = "T h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
constexpr std::uint64_t kMiB = 1024 * 1024;

// Sets the last-write time of `path` to `unix_seconds`.
void SetMtime(const fs::path& path, std::int64_t unix_seconds) {
#ifdef _WIN32
  HANDLE h = ::CreateFileW(path.wstring().c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const auto ticks = static_cast<std::uint64_t>((unix_seconds + 11644473600LL) * 10000000LL);
  FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &ft));
  ::CloseHandle(h);
#else
  struct timespec times[2] = {{static_cast<time_t>(unix_seconds), 0},
                              {static_cast<time_t>(unix_seconds), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

// The second that the ages of the files made next are counted from (see RunWithinOneSecond).
std::int64_t g_now = 0;

// A file of `size` bytes (sparse where the file system allows) written `age` seconds
// before g_now (or before the current second when g_now is 0).
void MakeFile(const fs::path& path, std::uint64_t size, std::int64_t age) {
  std::ofstream(path, std::ios::binary).flush();
  fs::resize_file(path, size);
  const std::int64_t now = g_now != 0 ? g_now : static_cast<std::int64_t>(std::time(nullptr));
  SetMtime(path, now - age);
}

std::string Name(int i) {
  return "tessary_brevane_monitor_VK20T_2023-01-0" + std::to_string(i) + "_16.00.45.log";
}

std::string Pattern(const fs::path& folder) {
  return "T i :   check path : " + folder.string() + platform::kPathSeparator +
         "tessary_brevane_monitor_*.log ";
}

class LogFolderCleanupTest : public ::testing::Test {
 protected:
  // Runs the cleanup on `folder` with the facade logging into its own capture folder.
  std::vector<std::string> Run(const fs::path& folder) {
    LogCapture capture;
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(), folder.string());
    return capture.Lines();
  }

  // Makes the files with `setup` and runs the cleanup on them, again from scratch while the
  // clock's second changed under the run, so that logged ages are exact.
  template <class Setup>
  std::vector<std::string> RunWithinOneSecond(Setup setup) {
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 10; ++attempt) {
      for (const auto& entry : fs::directory_iterator(dir_.path())) {
        fs::remove_all(entry.path());
      }
      g_now = static_cast<std::int64_t>(std::time(nullptr));
      setup();
      lines = Run(dir_.path());
      const bool same_second = static_cast<std::int64_t>(std::time(nullptr)) == g_now;
      g_now = 0;
      if (same_second) {
        return lines;
      }
    }
    ADD_FAILURE() << "could not run the cleanup within one second";
    return lines;
  }
  TempDir dir_;
};

TEST_F(LogFolderCleanupTest, EmptyOrMissingFolderWritesOnlyTheCheckPathLine) {
  EXPECT_THAT(Run(dir_.path()), ElementsAre(kEnter, Pattern(dir_.path()), kLeave));
  const fs::path missing = dir_.path() / "missing";
  EXPECT_THAT(Run(missing), ElementsAre(kEnter, Pattern(missing), kLeave));
}

TEST_F(LogFolderCleanupTest, YoungFilesBelowTheLimitAreKept) {
  auto lines = RunWithinOneSecond([&] {
    for (int i = 1; i <= 9; ++i) {
      MakeFile(dir_.path() / Name(i), 1024 * static_cast<std::uint64_t>(i), 1000 * i);
    }
    MakeFile(dir_.path() / "tessary_brevane_monitor_VK20T_2023-01-10_16.00.45.log", 2048, 500);
  });
  ASSERT_EQ(lines.size(), 2u + 1u + 10u + 1u);
  int adds = 0;
  for (const auto& line : lines) {
    adds += line.rfind("T i :   add log file[", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(adds, 10);
  // The oldest file (9000 s) decides the stop; 47 KiB in all.
  EXPECT_EQ(lines[lines.size() - 2],
            "T i :   dwLogFolderSize: 47.00 kb ,max_size  = 102400.00 kb ;item.time_diff = "
            "9000.000000 ,max_second_diff = 86400.000000  ,break");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 10);
}

TEST_F(LogFolderCleanupTest, OldFilesGoOldestFirstUntilTheFirstYoungOne) {
  auto lines = RunWithinOneSecond([&] {
    MakeFile(dir_.path() / Name(1), 1024, 3 * 86400);
    MakeFile(dir_.path() / Name(2), 2048, 2 * 86400);
    MakeFile(dir_.path() / Name(3), 4096, 3600);
    MakeFile(dir_.path() / Name(4), 4096, 60);
  });
  const std::vector<std::string> tail(lines.end() - 4, lines.end());
  EXPECT_THAT(tail, ElementsAre("T i :   because item.time_diff[259200] > max_second_diff[86400] ; "
                                "delete log file[1] (" +
                                    Name(1) + ")",
                                "T i :   because item.time_diff[172800] > max_second_diff[86400] ; "
                                "delete log file[2] (" +
                                    Name(2) + ")",
                                "T i :   dwLogFolderSize: 8.00 kb ,max_size  = 102400.00 kb "
                                ";item.time_diff = 3600.000000 ,max_second_diff = 86400.000000  "
                                ",break",
                                kLeave));
  EXPECT_FALSE(fs::exists(dir_.path() / Name(1)));
  EXPECT_FALSE(fs::exists(dir_.path() / Name(2)));
  EXPECT_TRUE(fs::exists(dir_.path() / Name(3)));
  EXPECT_TRUE(fs::exists(dir_.path() / Name(4)));
}

TEST_F(LogFolderCleanupTest, YoungFilesOverTheSizeLimitGoOldestFirst) {
  auto lines = RunWithinOneSecond([&] {
    MakeFile(dir_.path() / Name(1), 40 * kMiB, 300);
    MakeFile(dir_.path() / Name(2), 40 * kMiB, 200);
    MakeFile(dir_.path() / Name(3), 40 * kMiB, 100);
  });
  const std::vector<std::string> tail(lines.end() - 3, lines.end());
  EXPECT_THAT(tail, ElementsAre("T i :   because dwLogFolderSize: 125829120 > max_size  = "
                                "104857600 ; delete log file[1] (" +
                                    Name(1) +
                                    ") filesize[41943040] ,after delete dwLogFolderSize = 83886080",
                                "T i :   dwLogFolderSize: 81920.00 kb ,max_size  = 102400.00 kb "
                                ";item.time_diff = 200.000000 ,max_second_diff = 86400.000000  "
                                ",break",
                                kLeave));
  EXPECT_FALSE(fs::exists(dir_.path() / Name(1)));
  EXPECT_TRUE(fs::exists(dir_.path() / Name(2)));
}

TEST_F(LogFolderCleanupTest, FileOldAndOverTheLimitTakesTwoReasonNumbers) {
  auto lines = RunWithinOneSecond([&] {
    MakeFile(dir_.path() / Name(1), 101 * kMiB, 2 * 86400);
    MakeFile(dir_.path() / Name(2), 1024, 10);
  });
  ASSERT_GE(lines.size(), 4u);
  EXPECT_THAT(lines[lines.size() - 4],
              ::testing::HasSubstr("delete log file[1] (" + Name(1) + ")"));
  EXPECT_THAT(lines[lines.size() - 3],
              ::testing::StartsWith("T i :   because item.time_diff[172800] > "
                                    "max_second_diff[86400] ; delete log file[2]"));
  EXPECT_FALSE(fs::exists(dir_.path() / Name(1)));
}

TEST_F(LogFolderCleanupTest, FileExactlyOneDayOldIsDeletedWithoutAReasonLine) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    MakeFile(dir_.path() / Name(1), 1024, 86400);
    const std::time_t before = std::time(nullptr);
    auto lines = Run(dir_.path());
    if (std::time(nullptr) != before) {
      continue;  // the second changed under the run: the age was not exactly one day
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2],
              "T i :   add log file[1] :diff[86400.00 s] ; filesize[1.00 kb] " + Name(1) + " ");
    EXPECT_EQ(lines[3], kLeave);
    EXPECT_FALSE(fs::exists(dir_.path() / Name(1)));
    return;
  }
  FAIL() << "no run out of 5 stayed within one second";
}

TEST_F(LogFolderCleanupTest, FutureFileSortsLastAndIsNeverDeletedForAge) {
  auto lines = RunWithinOneSecond([&] {
    MakeFile(dir_.path() / Name(1), 1024, -3 * 86400);  // written three days from now
    MakeFile(dir_.path() / Name(2), 1024, 2 * 86400);
  });
  EXPECT_THAT(lines[lines.size() - 3], ::testing::HasSubstr("(" + Name(2) + ")"));
  EXPECT_THAT(lines[lines.size() - 2],
              ::testing::HasSubstr("item.time_diff = -259200.000000 ,max_second_diff"));
  EXPECT_TRUE(fs::exists(dir_.path() / Name(1)));
  EXPECT_FALSE(fs::exists(dir_.path() / Name(2)));
}

TEST_F(LogFolderCleanupTest, OnlyMatchingRegularFilesCount) {
  MakeFile(dir_.path() / "other.log", 200 * kMiB, 5 * 86400);
  MakeFile(dir_.path() / "tessary_brevane_monitor_old.txt", 1024, 5 * 86400);
  MakeFile(dir_.path() / "xtessary_brevane_monitor_a.log", 1024, 5 * 86400);
  fs::create_directory(dir_.path() / "tessary_brevane_monitor_dir.log");
  TempDir outside;
  MakeFile(outside.path() / "target.log", 1024, 5 * 86400);
  std::error_code ec;
  fs::create_symlink(outside.path() / "target.log",
                     dir_.path() / "tessary_brevane_monitor_link.log", ec);
  EXPECT_THAT(Run(dir_.path()), ElementsAre(kEnter, Pattern(dir_.path()), kLeave));
  EXPECT_TRUE(fs::exists(dir_.path() / "other.log"));
  EXPECT_TRUE(fs::exists(dir_.path() / "tessary_brevane_monitor_old.txt"));
  EXPECT_TRUE(fs::exists(dir_.path() / "xtessary_brevane_monitor_a.log"));
  EXPECT_TRUE(fs::exists(outside.path() / "target.log"));
}

TEST_F(LogFolderCleanupTest, TheFileBeingWrittenIsNeverDeleted) {
  FileLogCapture capture;
  const fs::path folder = capture.log_folder();
  const std::string current = LogHelper::CurrentLogFilePath();
  ASSERT_FALSE(current.empty());
  // A big file dated in the future sorts after the current file: the walk reaches the
  // current file with the folder still over the limit.
  MakeFile(folder / Name(1), 150 * kMiB, -600);
  LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(), folder.string());
  LogHelper::Print(LogInfo, "t", "still writing");
  auto lines = capture.Lines();
  EXPECT_TRUE(fs::exists(current));
  EXPECT_FALSE(fs::exists(folder / Name(1)));
  EXPECT_EQ(lines.back(), "T i :   still writing");
}

TEST_F(LogFolderCleanupTest, StartUpTrimsTheLogFolder) {
  const fs::path folder = dir_.path() / LogHelper::kCompanyFolder / LogHelper::kProductFolder /
                          LogHelper::kLogSubFolder;
  fs::create_directories(folder);
  MakeFile(folder / Name(1), 1024, 2 * 86400);
  testing::SetEnv("programdata", dir_.path().string());
  LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  LogHelper::Shutdown();
  EXPECT_FALSE(fs::exists(folder / Name(1)));
}

}  // namespace
}  // namespace halvorn
