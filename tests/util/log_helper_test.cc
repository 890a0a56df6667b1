#include "util/log_helper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_helper_testing.h"
#include "util/platform.h"
#include "util/registry_platform.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FileLogCapture;
using testing::LogCapture;
using testing::ReadLogFolder;

TEST(LogHelperTest, LineShapeOfEveryCode) {
  LogCapture capture;
  for (unsigned code = 0; code <= 8; ++code) {
    LogHelper::Print(code, "Tag::method", "code %d {x}", static_cast<int>(code));
  }
  LogHelper::TraceEnter("Tag::method");
  LogHelper::TraceLeave("Tag::method");
  EXPECT_THAT(capture.Lines(), ElementsAre("T e :   code 1 {x}",               //
                                           "T i :   code 2 {x}",               //
                                           "T w :   code 3 {x}",               //
                                           "T i :   code 4 {x}",               //
                                           "T code 5 {x}",                     //
                                           "T h :   Tag::method, code 6 {x}",  //
                                           "T h : + Tag::method",              //
                                           "T h : - Tag::method"));
}

TEST(LogHelperTest, TimestampThreadIdAndLineEnd) {
  FileLogCapture capture;
  LogHelper::Print(LogInfo, "t", "hello");
  std::vector<std::string> raw = capture.RawLines();
  ASSERT_FALSE(raw.empty());
  char tid[16];
  std::snprintf(tid, sizeof tid, "%08x", platform::CurrentThreadId());
  EXPECT_TRUE(std::regex_match(raw.back(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" +
                                                      std::string(tid) + " i :   hello")))
      << raw.back();
  // Every line ends in CR LF, also the last one.
  std::filesystem::path file;
  for (const auto& e : std::filesystem::directory_iterator(capture.log_folder())) {
    file = e.path();
  }
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(LogHelperTest, MessageIsCutTo1023Bytes) {
  LogCapture capture;
  const std::string long_text(1500, 'x');
  LogHelper::Print(LogPlain, "t", "%s", long_text);
  LogHelper::Print(LogError, "t", "%s", long_text);
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "T " + std::string(1023, 'x'));
  EXPECT_EQ(lines[1], "T e :   " + std::string(1023, 'x'));
}

TEST(LogHelperTest, WideAndSixtyFourBitConversionsReadTheSameOnEveryBuild) {
  LogCapture capture;
  LogHelper::Print(LogInfo, "t", "subKey = %ws ;diff[%I64d] size %d", L"SOFTWARE\\Tessary",
                   std::int64_t{86400}, std::uint64_t{104857600});
  EXPECT_THAT(capture.Lines(), ElementsAre("T i :   subKey = SOFTWARE\\Tessary ;diff[86400] size "
                                           "104857600"));
}

TEST(LogHelperTest, NothingIsWrittenBeforeStartOrAfterShutdownAndNothingQueuedIsLost) {
  LogHelper::Shutdown();
  LogHelper::Print(LogInfo, "t", "before start");  // no logger yet: returns quietly
  LogCapture capture;
  constexpr int kThreads = 4;
  constexpr int kLines = 3000;  // more than the queue holds in all: producers block
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        if (i % 2 == 0) {
          LogHelper::Print(LogInfo, "t", "thread %d line %d", t, i);
        } else {
          LogHelper::TraceEnter("trace");
        }
      }
    });
  }
  for (auto& th : threads) {
    th.join();
  }
  LogHelper::Shutdown();
  LogHelper::Shutdown();  // a second call does nothing
  LogHelper::Print(LogInfo, "t", "after shutdown");
  LogHelper::TraceLeave("after shutdown");
  auto lines = capture.Lines();
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const auto& line : lines) {
    ASSERT_EQ(line.find("after shutdown"), std::string::npos);
    ASSERT_EQ(line.find("before start"), std::string::npos);
  }
}

// Writers that keep logging while the facade shuts down: every line they handed over before
// the stop is in the file, none is handed to a logger being torn down (ThreadSanitizer and
// AddressSanitizer watch this one), and none after it.
TEST(LogHelperTest, ShutdownWhileOtherThreadsWrite) {
  LogCapture capture;
  std::atomic<bool> stop{false};
  std::atomic<int> handed_over{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      while (!stop) {
        if (t == 0) {
          LogHelper::TraceEnter("writer");
        } else {
          LogHelper::Print(LogInfo, "writer", "line from %d", t);
        }
        handed_over.fetch_add(1);
      }
    });
  }
  while (handed_over.load() < 2000) {
    std::this_thread::yield();
  }
  LogHelper::Shutdown();
  const int at_stop = handed_over.load();
  stop = true;
  for (auto& w : writers) {
    w.join();
  }
  const auto lines = capture.Lines();
  EXPECT_GE(lines.size(), 2000u);
  EXPECT_LE(lines.size(), static_cast<std::size_t>(at_stop) + 3u);
}

// The in-memory start of tests formats each line as the file would hold it: timestamp,
// thread id, payload and "\r\n". It makes no folder, and its own start leaves no line.
TEST(LogHelperTest, InMemoryStartKeepsEachLineAsTheFileHoldsIt) {
  LogHelper::Shutdown();
  testing::TempDir dir;
  testing::SetEnv("programdata", dir.path().string());
  auto lines = std::make_shared<InMemoryLogLines>();
  StartLogHelperInMemoryForTesting(SystemRegistryPlatform(), lines);
  EXPECT_EQ(LogHelper::CurrentLogFilePath(), "");
  LogHelper::Print(LogInfo, "t", "hello %d", 7);
  LogHelper::Print(LogPlain, "t", "plain");
  LogHelper::TraceLeave("Tag::method");
  LogHelper::Shutdown();
  LogHelper::Print(LogInfo, "t", "after shutdown");
  char tid[16];
  std::snprintf(tid, sizeof tid, "%08x", platform::CurrentThreadId());
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
  const std::vector<std::string> kept = lines->Lines();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_TRUE(std::regex_match(kept[0], std::regex(stamp + tid + " i :   hello 7\r\n"))) << kept[0];
  EXPECT_TRUE(std::regex_match(kept[1], std::regex(stamp + "plain\r\n"))) << kept[1];
  EXPECT_TRUE(std::regex_match(kept[2], std::regex(stamp + tid + " h : - Tag::method\r\n")))
      << kept[2];
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the in-memory start made a folder";
}

// The same calls read the same through the file and through memory.
TEST(LogHelperTest, InMemoryCaptureReadsAsTheFileCapture) {
  const auto write = [] {
    for (unsigned code = 1; code <= 6; ++code) {
      LogHelper::Print(code, "Tag::method", "code %d %ws %I64d", static_cast<int>(code), L"wide",
                       std::int64_t{-5});
    }
    LogHelper::TraceEnter("Tag::method");
    LogHelper::Print(LogInfo, "t", "%s", std::string(1500, 'x'));
  };
  std::vector<std::string> from_file;
  {
    FileLogCapture capture;
    write();
    from_file = capture.Lines();
  }
  std::vector<std::string> from_memory;
  {
    LogCapture capture;
    write();
    from_memory = capture.Lines();
  }
  ASSERT_EQ(from_file.size(), 8u);
  EXPECT_EQ(from_memory, from_file);
}

// The lines kept in memory are read by the test while the logger's writer thread appends
// (ThreadSanitizer watches this one): every copy holds whole lines, each writer's in order from
// its first, and no copy holds fewer lines than the one before.
TEST(LogHelperTest, InMemoryLinesAreReadWhileTheLoggerWrites) {
  LogHelper::Shutdown();
  testing::TempDir dir;
  testing::SetEnv("programdata", dir.path().string());
  auto lines = std::make_shared<InMemoryLogLines>();
  StartLogHelperInMemoryForTesting(SystemRegistryPlatform(), lines);
  constexpr int kWriters = 2;
  constexpr int kLines = 2000;
  std::atomic<int> finished{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kWriters; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        LogHelper::Print(LogInfo, "t", "writer %d line %d", t, i);
      }
      finished.fetch_add(1);
    });
  }
  const auto check = [](const std::vector<std::string>& copy) {
    int next[kWriters] = {};
    for (const std::string& line : copy) {
      const std::size_t at = line.find(" i :   writer ");
      int t = -1;
      int i = -1;
      char end[3] = {};
      if (at == std::string::npos ||
          std::sscanf(line.c_str() + at, " i :   writer %d line %d%2c", &t, &i, end) != 3 ||
          t < 0 || t >= kWriters || std::string(end) != "\r\n" || i != next[t]) {
        return ::testing::AssertionFailure() << "out of place: " << line;
      }
      ++next[t];
    }
    return ::testing::AssertionSuccess();
  };
  // Checked after the writers are joined, so that a failure ends the test cleanly.
  ::testing::AssertionResult copies = ::testing::AssertionSuccess();
  std::size_t before = 0;
  while (finished.load() < kWriters && copies) {
    const std::vector<std::string> copy = lines->Lines();
    copies =
        copy.size() >= before ? check(copy) : ::testing::AssertionFailure() << "a copy lost lines";
    before = copy.size();
  }
  for (auto& w : writers) {
    w.join();
  }
  EXPECT_TRUE(copies);
  LogHelper::Shutdown();
  const std::vector<std::string> all = lines->Lines();
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kWriters * kLines));
  EXPECT_TRUE(check(all));
}

TEST(LogHelperTest, StartUpCreatesEveryMissingFolderLevelAndNamesTheFile) {
  FileLogCapture capture;
  const std::string current = LogHelper::CurrentLogFilePath();
  ASSERT_FALSE(current.empty());
  EXPECT_TRUE(std::filesystem::is_directory(capture.log_folder()));
  const std::string name = std::filesystem::path(current).filename().string();
  EXPECT_TRUE(std::regex_match(
      name, std::regex(R"(tessary_brevane_monitor_VK20T_\d{4}-\d\d-\d\d_\d\d\.\d\d\.\d\d\.log)")))
      << name;
  EXPECT_EQ(std::filesystem::path(current).parent_path(), capture.log_folder());
}

TEST(LogHelperTest, FileNameFromLocalTime) {
  std::tm t{};
  t.tm_year = 2023 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 9;
  t.tm_hour = 16;
  t.tm_min = 0;
  t.tm_sec = 45;
  EXPECT_EQ(LogHelper::BuildLogFileName(t),
            "tessary_brevane_monitor_VK20T_2023-01-09_16.00.45.log");
}

// The file is named by its start's second; two starts within one second share it. A pair of
// starts that falls across a second boundary is tried again (a pair takes milliseconds, so a
// handful of tries always finds one second), never passed over.
TEST(LogHelperTest, SecondStartInTheSameSecondAppends) {
  constexpr int kTries = 5;
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    testing::TempDir dir;
    testing::SetEnv("programdata", dir.path().string());
    LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
    LogHelper::Print(LogInfo, "t", "first run");
    const std::string first = LogHelper::CurrentLogFilePath();
    LogHelper::Shutdown();
    std::ofstream(first, std::ios::app | std::ios::binary).flush();
    LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
    const std::string second = LogHelper::CurrentLogFilePath();
    LogHelper::Print(LogInfo, "t", "second run");
    LogHelper::Shutdown();
    if (first != second) {
      continue;  // the two starts fell into different seconds
    }
    std::ifstream in(first, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("first run"), std::string::npos);
    EXPECT_NE(text.find("second run"), std::string::npos);
    return;
  }
  FAIL() << "no two starts out of " << kTries << " pairs fell into the same second";
}

TEST(LogHelperTest, RotatesBySizeWithTheIndexBeforeTheExtension) {
  FileLogCapture capture;
  const std::string line(1000, 'r');
  // About 2.1 MiB: two rotations.
  for (int i = 0; i < 2200; ++i) {
    LogHelper::Print(LogInfo, "t", "%05d %s", i, line);
  }
  const std::string current = LogHelper::CurrentLogFilePath();
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2200u);  // nothing lost across rotations, in order
  EXPECT_EQ(lines.front().substr(0, 13), "T i :   00000");
  EXPECT_EQ(lines.back().substr(0, 13), "T i :   02199");
  const std::string stem = current.substr(0, current.size() - 4);
  EXPECT_TRUE(std::filesystem::exists(stem + ".1.log"));
  EXPECT_TRUE(std::filesystem::exists(stem + ".2.log"));
  EXPECT_FALSE(std::filesystem::exists(stem + ".3.log"));
  EXPECT_LE(std::filesystem::file_size(stem + ".1.log"), LogHelper::kMaxFileSize);
}

// A flush whose calls the test counts and can hold inside the flush.
class CountedFlush {
 public:
  void operator()() {
    std::unique_lock<std::mutex> hold(lock_);
    ++calls_;
    changed_.notify_all();
    changed_.wait(hold, [this] { return !held_; });
  }
  void Hold() {
    std::lock_guard<std::mutex> hold(lock_);
    held_ = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      held_ = false;
    }
    changed_.notify_all();
  }
  // Waits (a hang guard, not a speed goal) until at least `calls` flushes began.
  bool WaitFor(int calls) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return calls_ >= calls; });
  }
  int calls() {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int calls_ = 0;
  bool held_ = false;
};

constexpr auto kShortPeriod = std::chrono::milliseconds(20);

// Idle stretches of several periods: only a queued line leads to a flush, one per period
// however many lines it saw, and the line after an idle stretch is flushed again.
TEST(LogFlushTimerTest, FlushesOnlyAfterLinesAndOncePerPeriod) {
  CountedFlush flush;
  LogFlushTimer timer(kShortPeriod, [&] { flush(); });
  std::this_thread::sleep_for(kShortPeriod * 5);
  EXPECT_EQ(flush.calls(), 0) << "a flush with no line queued";

  timer.LineQueued();
  ASSERT_TRUE(flush.WaitFor(1));
  std::this_thread::sleep_for(kShortPeriod * 5);
  EXPECT_EQ(flush.calls(), 1) << "a flush after the idle stretch with no new line";

  // Lines queued while a flush runs are behind it: exactly one more flush covers them all.
  flush.Hold();
  timer.LineQueued();
  ASSERT_TRUE(flush.WaitFor(2));
  for (int i = 0; i < 100; ++i) {
    timer.LineQueued();
  }
  flush.Release();
  ASSERT_TRUE(flush.WaitFor(3));
  std::this_thread::sleep_for(kShortPeriod * 5);
  EXPECT_EQ(flush.calls(), 3);
  timer.Stop();
  timer.Stop();  // a second call does nothing
}

// Lines from many threads at once: each is followed by a flush that began after it. A line
// counts as written before it is marked (as the facade queues it first); each flush notes how
// many were written when it began.
TEST(LogFlushTimerTest, LinesFromManyThreadsAreAllFollowedByAFlush) {
  std::atomic<int> written{0};
  std::mutex lock;
  std::condition_variable flushed;
  int covered = 0;
  LogFlushTimer timer(std::chrono::milliseconds(1), [&] {
    const int now = written.load();
    std::lock_guard<std::mutex> hold(lock);
    covered = now;
    flushed.notify_all();
  });
  for (int round = 1; round <= 3; ++round) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
          written.fetch_add(1);
          timer.LineQueued();
        }
      });
    }
    for (auto& w : writers) {
      w.join();
    }
    std::unique_lock<std::mutex> hold(lock);
    EXPECT_TRUE(
        flushed.wait_for(hold, std::chrono::seconds(60), [&] { return covered == round * 8000; }))
        << "round " << round << ": the last flush saw " << covered << " lines";
  }
}

// Stopping with a line queued and its period far off returns at once, without a flush.
TEST(LogFlushTimerTest, StopDoesNotWaitForThePeriod) {
  CountedFlush flush;
  LogFlushTimer timer(std::chrono::hours(1), [&] { flush(); });
  timer.LineQueued();
  timer.Stop();
  EXPECT_EQ(flush.calls(), 0);
}

// After more than one flush period without a line, a new line still reaches the file while
// the facade keeps running (the bound is a hang guard, not a speed goal).
TEST(LogHelperTest, LineAfterAnIdleStretchReachesTheFileWhileRunning) {
  FileLogCapture capture;
  auto on_disk = [&](const std::string& text) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
      for (const std::string& line : ReadLogFolder(capture.log_folder())) {
        if (line.find(text) != std::string::npos) {
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  LogHelper::Print(LogInfo, "t", "before the idle stretch");
  ASSERT_TRUE(on_disk("before the idle stretch"));
  std::this_thread::sleep_for(LogHelper::kFlushPeriod + std::chrono::milliseconds(500));
  LogHelper::Print(LogInfo, "t", "after the idle stretch");
  LogHelper::TraceEnter("AfterIdle::trace");
  EXPECT_TRUE(on_disk("after the idle stretch"));
  EXPECT_TRUE(on_disk("h : + AfterIdle::trace"));
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   before the idle stretch", "T i :   after the idle stretch",
                          "T h : + AfterIdle::trace"));
}

TEST(LogHelperTest, UnusableFolderLeavesLoggingOffWithoutHarm) {
  testing::TempDir dir;
  // A regular file where the company folder would go: no level below it can be made.
  std::ofstream(dir.path() / LogHelper::kCompanyFolder) << "not a folder";
  testing::SetEnv("programdata", dir.path().string());
  LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  EXPECT_EQ(LogHelper::CurrentLogFilePath(), "");
  LogHelper::Print(LogInfo, "t", "goes nowhere");
  LogHelper::TraceEnter("t");
  LogHelper::Shutdown();
}

TEST(LogHelperTest, OverlongFolderPathIsRefusedNotCut) {
  testing::TempDir dir;
  testing::SetEnv("programdata", (dir.path() / std::string(240, 'p')).string());
  EXPECT_EQ(LogHelper::BuildLogFolderPath(), "");
  LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  EXPECT_EQ(LogHelper::CurrentLogFilePath(), "");
  LogHelper::Shutdown();
}

}  // namespace
}  // namespace halvorn
