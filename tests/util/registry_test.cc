// ReadDWORDRegValue against the build's real registry: under Wine the values are put in the
// prefix's registry with "reg import" and "reg add"; on Linux they are the registry file
// named by HALVORN_REGISTRY_FILE. The same .reg text and the same table serve both builds.
//
// On Linux the registry file is trusted only when owned by root, so the tests that read
// values need root (CI runs as root) and are skipped, with the reason, without it.

#include "util/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/platform.h"
#include "util/registry_platform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#endif

namespace halvorn {
namespace {

using ::testing::ElementsAreArray;

constexpr const char* kEnter = "T h : + ReadDWORDRegValue";
constexpr const char* kLeave = "T h : - ReadDWORDRegValue";

// The values every case reads, as regedit exports them.
constexpr const char* kExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Registry]\r\n"
    "\"One\"=dword:00000001\r\n"
    "\"TwoFiftySix\"=dword:00000100\r\n"
    "\"TwoFiftySeven\"=dword:00000101\r\n"
    "\"Text\"=\"abc\"\r\n"
    "\"Binary\"=hex:01,02\r\n"
    "\"DwordAsHex\"=hex(4):07,01,00,00\r\n"
    "\"EmptyDword\"=hex(4):\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Registry\\Sub]\r\n"
    "\"Deep\"=dword:00000002\r\n";

// An export that changes what it wrote before, read in file order as an import applies it:
// deleted values and keys (a key with its sub-keys) are gone, what is written again after a
// deletion counts, and a key header may end in a backslash.
constexpr const char* kEditingExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Edits]\r\n"
    "\"Kept\"=dword:00000001\r\n"
    "\"Deleted\"=dword:00000001\r\n"
    "\"Rewritten\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Edits]\r\n"
    "\"Deleted\"=-\r\n"
    "\"Rewritten\"=-\r\n"
    "\"Rewritten\"=dword:00000002\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Gone]\r\n"
    "\"One\"=dword:00000001\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Gone\\Sub]\r\n"
    "\"One\"=dword:00000001\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Gone Too]\r\n"
    "\"One\"=dword:00000001\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Gone]\r\n"
    "\"AfterDeletion\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Again]\r\n"
    "\"Old\"=dword:00000001\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Again\\]\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Again]\r\n"
    "\"New\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Parent\\Child]\r\n"
    "\"One\"=dword:00000001\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Parent\\Child]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Slash\\]\r\n"
    "\"One\"=dword:00000001\r\n";

// regedit's own export encoding: UTF-16LE with a byte-order mark.
std::string Utf16LeWithBom(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ParameterLine(const std::string& sub_key, const std::string& name) {
  return "T i :   hKeyRoot = 0x80000002 ; subKey = " + sub_key + " ;key = " + name + " ";
}

struct Read {
  int value;
  std::vector<std::string> lines;
};

Read ReadValue(const std::string& sub_key, const std::string& name) {
  testing::LogCapture capture;
  int value = ReadDWORDRegValue(SystemRegistryPlatform(), platform::NarrowToWide(sub_key).c_str(),
                                platform::NarrowToWide(name).c_str());
  return {value, capture.Lines()};
}

struct Case {
  const char* sub_key;
  const char* name;
  int value;
  // The lines between the parameter line and the exit line.
  std::vector<std::string> result_lines;
};

const std::vector<Case>& ExportCases() {
  static const std::vector<Case> cases = {
      {"SOFTWARE\\Halvorn Test\\Registry", "One", 1, {"T e :   RegQueryValueEx success, ret = 1"}},
      // Only the low-order byte counts.
      {"SOFTWARE\\Halvorn Test\\Registry",
       "TwoFiftySix",
       0,
       {"T e :   RegQueryValueEx success, ret = 0"}},
      {"SOFTWARE\\Halvorn Test\\Registry",
       "TwoFiftySeven",
       1,
       {"T e :   RegQueryValueEx success, ret = 1"}},
      {"SOFTWARE\\Halvorn Test\\Registry",
       "DwordAsHex",
       7,
       {"T e :   RegQueryValueEx success, ret = 7"}},
      // Another type: "abc" is 8 bytes of UTF-16 with its terminator.
      {"SOFTWARE\\Halvorn Test\\Registry",
       "Text",
       0,
       {"T e :   RegQueryValueEx success,but dwType ==  REG_DWORD 0 ;cbData = 8,ERROR code = 0"}},
      {"SOFTWARE\\Halvorn Test\\Registry",
       "Binary",
       0,
       {"T e :   RegQueryValueEx success,but dwType ==  REG_DWORD 0 ;cbData = 2,ERROR code = 0"}},
      // The right type without data.
      {"SOFTWARE\\Halvorn Test\\Registry",
       "EmptyDword",
       0,
       {"T e :   RegQueryValueEx success,but dwType ==  REG_DWORD 1 ;cbData = 0,ERROR code = 0"}},
      {"SOFTWARE\\Halvorn Test\\Registry",
       "Missing",
       0,
       {"T e :   RegQueryValueEx FAIL ,ERROR code = 2"}},
      // A key that holds only a sub-key exists, without values.
      {"SOFTWARE\\Halvorn Test", "One", 0, {"T e :   RegQueryValueEx FAIL ,ERROR code = 2"}},
      // Missing key: only the key-open failure follows the parameter line.
      {"SOFTWARE\\Halvorn Test\\Absent", "One", 0, {"T e :   RegOpenKeyEx FAIL ,ERROR code = 2"}},
      // Key and value names compare without regard to case.
      {"software\\HALVORN TEST\\registry", "oNE", 1, {"T e :   RegQueryValueEx success, ret = 1"}},
      {"SOFTWARE\\Halvorn Test\\Registry\\Sub",
       "Deep",
       2,
       {"T e :   RegQueryValueEx success, ret = 2"}},
  };
  return cases;
}

// What kEditingExport leaves.
const std::vector<Case>& EditingExportCases() {
  static const std::vector<Case> cases = {
      {"SOFTWARE\\Halvorn Test\\Edits", "Kept", 1, {"T e :   RegQueryValueEx success, ret = 1"}},
      {"SOFTWARE\\Halvorn Test\\Edits",
       "Deleted",
       0,
       {"T e :   RegQueryValueEx FAIL ,ERROR code = 2"}},
      {"SOFTWARE\\Halvorn Test\\Edits",
       "Rewritten",
       2,
       {"T e :   RegQueryValueEx success, ret = 2"}},
      // The deleted key, its sub-key and a value written under its deletion header.
      {"SOFTWARE\\Halvorn Test\\Gone", "One", 0, {"T e :   RegOpenKeyEx FAIL ,ERROR code = 2"}},
      {"SOFTWARE\\Halvorn Test\\Gone\\Sub",
       "One",
       0,
       {"T e :   RegOpenKeyEx FAIL ,ERROR code = 2"}},
      {"SOFTWARE\\Halvorn Test\\Gone",
       "AfterDeletion",
       0,
       {"T e :   RegOpenKeyEx FAIL ,ERROR code = 2"}},
      // A key whose name merely begins with the deleted one stays.
      {"SOFTWARE\\Halvorn Test\\Gone Too", "One", 1, {"T e :   RegQueryValueEx success, ret = 1"}},
      // Made again after its deletion: only the new values.
      {"SOFTWARE\\Halvorn Test\\Again", "Old", 0, {"T e :   RegQueryValueEx FAIL ,ERROR code = 2"}},
      {"SOFTWARE\\Halvorn Test\\Again", "New", 1, {"T e :   RegQueryValueEx success, ret = 1"}},
      // Deleting a sub-key leaves the key that writing it made.
      {"SOFTWARE\\Halvorn Test\\Parent",
       "One",
       0,
       {"T e :   RegQueryValueEx FAIL ,ERROR code = 2"}},
      {"SOFTWARE\\Halvorn Test\\Slash", "One", 1, {"T e :   RegQueryValueEx success, ret = 1"}},
  };
  return cases;
}

void ExpectEveryCase(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sub_key) + " / " + c.name);
    std::vector<std::string> expected = {kEnter, ParameterLine(c.sub_key, c.name)};
    expected.insert(expected.end(), c.result_lines.begin(), c.result_lines.end());
    expected.push_back(kLeave);
    Read read = ReadValue(c.sub_key, c.name);
    EXPECT_EQ(read.value, c.value);
    EXPECT_THAT(read.lines, ElementsAreArray(expected));
  }
}

#ifdef _WIN32

// Runs a command through the command interpreter; its exit code.
int Shell(const std::string& command) {
  return std::system((command + " >NUL 2>&1").c_str());
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Shell("reg delete \"HKLM\\SOFTWARE\\Halvorn Test\" /f"); }
  void TearDown() override { Shell("reg delete \"HKLM\\SOFTWARE\\Halvorn Test\" /f"); }

  void Import(const std::string& bytes) {
    const std::filesystem::path file = dir_.path() / "values.reg";
    WriteFile(file, bytes);
    ASSERT_EQ(Shell("reg import \"" + file.string() + "\""), 0);
  }

  testing::TempDir dir_;
};

TEST_F(RegistryTest, ValuesImportedFromAnAnsiExport) {
  ASSERT_NO_FATAL_FAILURE(Import(kExport));
  ExpectEveryCase(ExportCases());
}

TEST_F(RegistryTest, ValuesImportedFromAUtf16Export) {
  ASSERT_NO_FATAL_FAILURE(Import(Utf16LeWithBom(kExport)));
  ExpectEveryCase(ExportCases());
}

TEST_F(RegistryTest, DeletionsOfAnImportedExportApplyInFileOrder) {
  ASSERT_NO_FATAL_FAILURE(Import(kEditingExport));
  ExpectEveryCase(EditingExportCases());
}

TEST_F(RegistryTest, ValuesAddedOneByOne) {
  const std::string key = "\"HKLM\\SOFTWARE\\Halvorn Test\\Added\"";
  ASSERT_EQ(Shell("reg add " + key + " /v On /t REG_DWORD /d 1 /f"), 0);
  ASSERT_EQ(Shell("reg add " + key + " /v Big /t REG_DWORD /d 256 /f"), 0);
  ASSERT_EQ(Shell("reg add " + key + " /v Word /t REG_SZ /d 1 /f"), 0);
  struct AddedCase {
    const char* name;
    int value;
    std::string line;
  };
  const AddedCase cases[] = {
      {"On", 1, "T e :   RegQueryValueEx success, ret = 1"},
      {"Big", 0, "T e :   RegQueryValueEx success, ret = 0"},
      // "1" as text: 4 bytes of UTF-16 with its terminator.
      {"Word", 0,
       "T e :   RegQueryValueEx success,but dwType ==  REG_DWORD 0 ;cbData = 4,ERROR code = 0"},
  };
  for (const AddedCase& c : cases) {
    SCOPED_TRACE(c.name);
    Read read = ReadValue("SOFTWARE\\Halvorn Test\\Added", c.name);
    EXPECT_EQ(read.value, c.value);
    EXPECT_THAT(read.lines,
                ElementsAreArray({std::string(kEnter),
                                  ParameterLine("SOFTWARE\\Halvorn Test\\Added", c.name), c.line,
                                  std::string(kLeave)}));
  }
}

#else  // Linux: the registry file.

bool IsRoot() {
  return ::geteuid() == 0;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.path() / "registry.reg";
    testing::SetEnv("HALVORN_REGISTRY_FILE", file_.string());
  }
  void TearDown() override { testing::UnsetEnv("HALVORN_REGISTRY_FILE"); }

  // Writes the registry file, owned by the caller, writable by the owner alone.
  void Write(const std::string& bytes) {
    WriteFile(file_, bytes);
    ::chmod(file_.c_str(), 0644);
  }

  // The lines of a read that is refused before any key is opened.
  static std::vector<std::string> RefusedLines(const std::vector<std::string>& middle) {
    std::vector<std::string> lines = {kEnter,
                                      ParameterLine("SOFTWARE\\Halvorn Test\\Registry", "One")};
    lines.insert(lines.end(), middle.begin(), middle.end());
    lines.push_back(kLeave);
    return lines;
  }

  std::string IgnoredLine() const {
    return "T e :   registry file " + file_.string() +
           " is not a regular file owned by root and writable only by root (or is over 1 MiB): "
           "ignored";
  }

  testing::TempDir dir_;
  std::filesystem::path file_;
};

TEST_F(RegistryTest, ValuesOfAnAnsiExport) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
  }
  Write(kExport);
  ExpectEveryCase(ExportCases());
}

TEST_F(RegistryTest, ValuesOfAUtf16ExportWithByteOrderMark) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
  }
  Write(Utf16LeWithBom(kExport));
  ExpectEveryCase(ExportCases());
}

// The same file imported on Windows leaves the same values: a setting written and later
// deleted is not there (IsDisableVerify so deleted keeps the checks on).
TEST_F(RegistryTest, DeletionsOfTheFileApplyInFileOrder) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
  }
  Write(kEditingExport);
  ExpectEveryCase(EditingExportCases());
}

TEST_F(RegistryTest, UnreadableOrDamagedFileReadsAsNoKey) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
  }
  struct FileCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> middle;
  };
  const FileCase cases[] = {
      {"no header",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Registry]\r\n\"One\"=dword:1\r\n",
       {"T e :   RegOpenKeyEx FAIL ,ERROR code = 1009"}},
      {"dword of nine digits",
       "Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Registry]\r\n\"One\"=dword:000000001\r\n",
       {"T e :   RegOpenKeyEx FAIL ,ERROR code = 1009"}},
      {"unterminated name",
       "Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn Test\\Registry]\r\n\"One=dword:00000001\r\n",
       {"T e :   RegOpenKeyEx FAIL ,ERROR code = 1009"}},
      {"value before any key",
       "Windows Registry Editor Version 5.00\r\n\"One\"=dword:00000001\r\n",
       {"T e :   RegOpenKeyEx FAIL ,ERROR code = 1009"}},
      {"empty file", "", {"T e :   RegOpenKeyEx FAIL ,ERROR code = 1009"}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.bytes);
    Read read = ReadValue("SOFTWARE\\Halvorn Test\\Registry", "One");
    EXPECT_EQ(read.value, 0);
    EXPECT_THAT(read.lines, ElementsAreArray(RefusedLines(c.middle)));
  }
}

TEST_F(RegistryTest, MissingFileIsAMissingKey) {
  Read read = ReadValue("SOFTWARE\\Halvorn Test\\Registry", "One");
  EXPECT_EQ(read.value, 0);
  EXPECT_THAT(read.lines, ElementsAreArray(RefusedLines({"T e :   RegOpenKeyEx FAIL ,ERROR code = "
                                                         "2"})));
}

// A file that someone other than root can change could switch the checks off: it is refused
// (access denied) whatever it holds.
TEST_F(RegistryTest, FileNotOwnedByRootIsRefused) {
  Write(kExport);
  if (IsRoot()) {
    ASSERT_EQ(::chown(file_.c_str(), 65534, 65534), 0);  // nobody
  }
  Read read = ReadValue("SOFTWARE\\Halvorn Test\\Registry", "One");
  EXPECT_EQ(read.value, 0);
  EXPECT_THAT(
      read.lines,
      ElementsAreArray(RefusedLines({IgnoredLine(), "T e :   RegOpenKeyEx FAIL ,ERROR code = 5"})));
}

// Reads the value on another thread. A read that still waits after a minute, far beyond any
// delay of a busy machine, is stuck in the open of the named pipe `fifo`: it is released by
// opening the pipe for writing (again, for each open that waits), so that the test fails
// instead of hanging.
Read ReadReleasingAStuckOpen(const std::filesystem::path& fifo, bool* stuck) {
  auto read = std::async(std::launch::async,
                         [] { return ReadValue("SOFTWARE\\Halvorn Test\\Registry", "One"); });
  *stuck = read.wait_for(std::chrono::minutes(1)) != std::future_status::ready;
  while (read.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) {
      ::close(writer);
    }
  }
  return read.get();
}

TEST_F(RegistryTest, GroupOrOtherWritableLinkOrPipeIsRefusedWithItsReason) {
  if (!IsRoot()) {
    GTEST_SKIP() << "needs root: only a root-owned file gets as far as its mode";
  }
  const std::filesystem::path real = dir_.path() / "real.reg";
  enum class Kind { kFile, kLink, kPipe };
  struct ModeCase {
    const char* name;
    mode_t mode;
    Kind kind;
  };
  const ModeCase cases[] = {
      {"group-writable", 0664, Kind::kFile},
      {"other-writable", 0646, Kind::kFile},
      // A link is not followed, even to a file that would be trusted.
      {"symbolic link", 0644, Kind::kLink},
      // Nothing ever writes to the pipe: opening it must not wait for a writer.
      {"named pipe", 0644, Kind::kPipe},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(file_);
    std::string refusal = IgnoredLine();
    bool stuck = false;
    Read read;
    switch (c.kind) {
      case Kind::kFile:
        Write(kExport);
        ::chmod(file_.c_str(), c.mode);
        read = ReadValue("SOFTWARE\\Halvorn Test\\Registry", "One");
        break;
      case Kind::kLink:
        WriteFile(real, kExport);
        ::chmod(real.c_str(), c.mode);
        std::filesystem::create_symlink(real, file_);
        refusal = "T e :   registry file " + file_.string() +
                  " is a symbolic link, which is not followed: ignored";
        read = ReadValue("SOFTWARE\\Halvorn Test\\Registry", "One");
        break;
      case Kind::kPipe:
        ASSERT_EQ(::mkfifo(file_.c_str(), c.mode), 0);
        read = ReadReleasingAStuckOpen(file_, &stuck);
        break;
    }
    EXPECT_FALSE(stuck) << "opening the registry file waited for a writer";
    EXPECT_EQ(read.value, 0);
    EXPECT_THAT(
        read.lines,
        ElementsAreArray(RefusedLines({refusal, "T e :   RegOpenKeyEx FAIL ,ERROR code = 5"})));
  }
}

#endif

}  // namespace
}  // namespace halvorn
