// The log folder against folder links under Wine, over links that with_unix_links.sh makes
// (HALVORN_TEST_LINKS): start-up writes nothing through a linked level, and the cleanup leaves
// a linked folder alone.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_folder_test_support.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::kOldLog;
using testing::LogCapture;

class LogFolderLinkWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* links = std::getenv("HALVORN_TEST_LINKS");
    if (links == nullptr || *links == '\0') {
      GTEST_SKIP() << "no links made: run through with_unix_links.sh";
    }
    links_ = links;
  }
  std::string links_;
};

TEST_F(LogFolderLinkWinTest, TheLinksAreReparsePoints) {
  for (const char* name : {"\\root\\Tessary Wireless Inc", "\\folder_link"}) {
    SCOPED_TRACE(name);
    const DWORD attributes = ::GetFileAttributesA((links_ + name).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }
}

TEST_F(LogFolderLinkWinTest, StartUpWritesNothingThroughALinkedLevel) {
  bool logging = true;
  const std::string err = testing::StartUpLogging(links_ + "\\root", &logging);
  EXPECT_FALSE(logging);
  EXPECT_EQ(err, "halvorn: log folder " + links_ +
                     "\\root\\Tessary Wireless Inc is a junction or symbolic link; logging and "
                     "the folder trim are off\n");
  EXPECT_TRUE(fs::directory_iterator(fs::path(links_) / "outside_root") ==
              fs::directory_iterator());
}

TEST_F(LogFolderLinkWinTest, CleanupLeavesALinkedFolderAlone) {
  const std::string folder = links_ + "\\folder_link";
  std::vector<std::string> lines;
  {
    LogCapture capture;
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(SystemLogFolderPlatform(), folder);
    lines = capture.Lines();
  }
  EXPECT_THAT(
      lines,
      ElementsAre("T h : + LogHelper::DeleteFileWhileExceedMaxSizeAndTime",
                  "T i :   check path : " + folder + "\\tessary_brevane_monitor_*.log ",
                  "T i :   log folder " + folder + " is a junction or symbolic link: not cleaned",
                  "T h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime"));
  EXPECT_TRUE(fs::exists(fs::path(links_) / "outside_folder" / kOldLog));
}

}  // namespace
}  // namespace halvorn
