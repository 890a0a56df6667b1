// The verdict on a level of the log folder or a log file, from the facts the system gives.

#include "util/log_folder_guard.h"

#include <gtest/gtest.h>

namespace halvorn {
namespace {

TEST(LogFolderGuardTest, VerdictFromTheFacts) {
  constexpr bool kFolder = true;
  constexpr bool kFile = false;
  struct Case {
    const char* what;
    PathFacts facts;
    bool folder;
    PathVerdict verdict;
  } cases[] = {
      {"missing folder",
       {false, false, false, PathOwner::kUnknown, false},
       kFolder,
       PathVerdict::kAccept},
      {"missing file",
       {false, false, false, PathOwner::kUnknown, false},
       kFile,
       PathVerdict::kAccept},
      {"system's folder",
       {true, false, true, PathOwner::kSystem, false},
       kFolder,
       PathVerdict::kAccept},
      {"service's folder",
       {true, false, true, PathOwner::kService, false},
       kFolder,
       PathVerdict::kAccept},
      {"system's file",
       {true, false, false, PathOwner::kSystem, false},
       kFile,
       PathVerdict::kAccept},
      // A file that others may write steers nothing: only a folder's write permission counts.
      {"service's file others may write",
       {true, false, false, PathOwner::kService, true},
       kFile,
       PathVerdict::kAccept},
      {"link to a system folder",
       {true, true, true, PathOwner::kSystem, false},
       kFolder,
       PathVerdict::kLink},
      {"link to a file", {true, true, false, PathOwner::kSystem, false}, kFile, PathVerdict::kLink},
      {"link whose owner is unknown",
       {true, true, true, PathOwner::kUnknown, false},
       kFolder,
       PathVerdict::kLink},
      {"another account's folder",
       {true, false, true, PathOwner::kOther, false},
       kFolder,
       PathVerdict::kOtherOwner},
      {"another account's file",
       {true, false, false, PathOwner::kOther, false},
       kFile,
       PathVerdict::kOtherOwner},
      {"folder of an unknown owner",
       {true, false, true, PathOwner::kUnknown, false},
       kFolder,
       PathVerdict::kUnknownOwner},
      {"system's folder others may write",
       {true, false, true, PathOwner::kSystem, true},
       kFolder,
       PathVerdict::kOthersMayWrite},
      {"another account's folder others may write",
       {true, false, true, PathOwner::kOther, true},
       kFolder,
       PathVerdict::kOtherOwner},
      {"file where a folder belongs",
       {true, false, false, PathOwner::kSystem, false},
       kFolder,
       PathVerdict::kNotAFolder},
      {"folder where a file belongs",
       {true, false, true, PathOwner::kSystem, false},
       kFile,
       PathVerdict::kNotAFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JudgeLogPath(c.facts, c.folder), c.verdict);
  }
}

}  // namespace
}  // namespace halvorn
