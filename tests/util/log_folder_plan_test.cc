// The log-folder trim as a decision over plain facts: which files go, in which order, and why,
// for a listing, a time and the logger's current file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/log_folder_cleanup.h"

namespace halvorn {
namespace {

using ::testing::ElementsAreArray;

constexpr std::int64_t kNow = 1'800'000'000;  // seconds since 1970
constexpr std::uint64_t kMiB = 1024 * 1024;

// A listed file last written `age` seconds before kNow.
LogFileEntry File(const std::string& name, std::uint64_t size, std::int64_t age) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  return {name, size, (kNow - age + kSecondsFrom1601To1970) * 10000000};
}

std::vector<std::string> Deleted(const LogFolderCleanupPlan& plan) {
  std::vector<std::string> names;
  for (const LogFileDeletion& d : plan.deletions) {
    names.push_back(d.file.name + (d.over_size ? " size" : "") + (d.over_age ? " age" : "") +
                    (d.remove ? "" : " kept"));
  }
  return names;
}

TEST(LogFolderPlanTest, TakesOldestFirstWhileTooLargeOrTooOld) {
  struct Case {
    const char* name;
    std::vector<LogFileEntry> files;
    std::string current;
    std::vector<std::string> deleted;
    bool stopped;
  } cases[] = {
      {"nothing listed", {}, "", {}, false},
      {"small and fresh", {File("a", 10, 60), File("b", 10, 120)}, "", {}, true},
      {"old files go, the fresh one stays",
       {File("fresh", 10, 60), File("old", 10, 90000), File("older", 10, 100000)},
       "",
       {"older age", "old age"},
       true},
      {"a day to the second is not older than a day",
       {File("day", 10, 86400), File("fresh", 10, 1)},
       "",
       {"day"},
       true},
      {"too large: oldest first until below 100 MiB",
       {File("new", 60 * kMiB, 10), File("mid", 30 * kMiB, 20), File("old", 20 * kMiB, 30)},
       "",
       {"old size"},
       true},
      {"exactly 100 MiB is not above it but still trimmed",
       {File("new", 50 * kMiB, 10), File("old", 50 * kMiB, 30)},
       "",
       {"old"},
       true},
      {"same age: the larger first, then the greater name",
       {File("b", 5, 90000), File("a", 5, 90000), File("c", 9, 90000)},
       "",
       {"c age", "b age", "a age"},
       false},
      {"the current file is counted off but kept",
       {File("current", 200 * kMiB, 90000), File("fresh", 1, 1)},
       "current",
       {"current size age kept"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LogFolderCleanupPlan plan = PlanLogFolderCleanup(c.files, kNow, c.current);
    EXPECT_THAT(Deleted(plan), ElementsAreArray(c.deleted));
    EXPECT_EQ(plan.stopped, c.stopped);
    ASSERT_EQ(plan.listed.size(), c.files.size());
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      EXPECT_EQ(plan.listed[i].name, c.files[i].name);  // in the order listed
    }
  }
}

TEST(LogFolderPlanTest, SizesAndAgesOfTheSteps) {
  const LogFolderCleanupPlan plan =
      PlanLogFolderCleanup({File("new", 60 * kMiB, 10), File("old", 50 * kMiB, 30)}, kNow, "");
  EXPECT_EQ(plan.folder_size, 110 * kMiB);
  ASSERT_EQ(plan.deletions.size(), 1u);
  EXPECT_EQ(plan.deletions[0].folder_size_before, 110 * kMiB);
  EXPECT_DOUBLE_EQ(plan.deletions[0].file.age_seconds, 30.0);
  EXPECT_EQ(plan.size_at_stop, 60 * kMiB);
  EXPECT_DOUBLE_EQ(plan.age_at_stop, 10.0);
}

// A clock or a file time before 1970 gives no age: such a file goes only for the size.
TEST(LogFolderPlanTest, TimesBefore1970CountAsNoAge) {
  LogFileEntry ancient{"ancient", 10, 0};  // 1601
  LogFolderCleanupPlan plan = PlanLogFolderCleanup({ancient}, kNow, "");
  EXPECT_TRUE(plan.deletions.empty());
  EXPECT_DOUBLE_EQ(plan.listed[0].age_seconds, 0.0);
  plan = PlanLogFolderCleanup({File("old", 10, 90000)}, -1, "");
  EXPECT_TRUE(plan.deletions.empty());
}

}  // namespace
}  // namespace halvorn
