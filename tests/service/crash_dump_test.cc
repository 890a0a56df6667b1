// The dump file name and its place beside the executable.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "service/crash_dump.h"

namespace halvorn::service {
namespace {

struct NameCase {
  const char* name;
  DumpGuid guid;
  const char* expected;
};

TEST(CrashDumpTest, FileNameOfAGuid) {
  const NameCase cases[] = {
      {"EveryFieldPaddedToItsWidth",
       {0x0000ABCD, 0x0001, 0x0A0B, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}},
       "0000ABCD-0001-0A0B-0001-020304050607.dmp"},
      {"UpperCaseDigits",
       {0xDEADBEEF, 0xCAFE, 0xF00D, {0xAB, 0xCD, 0xEF, 0xFF, 0x9A, 0xBC, 0xDE, 0xF0}},
       "DEADBEEF-CAFE-F00D-ABCD-EFFF9ABCDEF0.dmp"},
      {"AllZero", {}, "00000000-0000-0000-0000-000000000000.dmp"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    char narrow[kDumpFileNameLength + 1];
    FormatDumpFileName(c.guid, narrow);
    EXPECT_EQ(std::string(narrow), c.expected);
    EXPECT_EQ(std::string(narrow).size(), kDumpFileNameLength);
    wchar_t wide[kDumpNameBufferSize];
    FormatDumpFileName(c.guid, wide);
    EXPECT_EQ(std::wstring(wide), std::wstring(c.expected, c.expected + kDumpFileNameLength));
  }
}

struct PathCase {
  const char* name;
  std::wstring module;
  bool cut;
  DumpPathResult result;
  std::wstring path;
};

constexpr const wchar_t* kName = L"0000ABCD-0001-0A0B-0001-020304050607.dmp";

TEST(CrashDumpTest, PathBesideTheExecutable) {
  // A folder of `n` characters including its trailing separator.
  auto folder_of = [](std::size_t n) { return L"C:" + std::wstring(n - 3, L'd') + L"\\"; };
  const std::wstring fits = folder_of(kDumpPathBufferSize - 1 - kDumpFileNameLength);
  const std::wstring one_over = folder_of(kDumpPathBufferSize - kDumpFileNameLength);
  const PathCase cases[] = {
      {"Plain", L"C:\\Program Files\\Halvorn\\halvorn.exe", false, DumpPathResult::kOk,
       std::wstring(L"C:\\Program Files\\Halvorn\\") + kName},
      {"LastSeparatorCounts", L"C:\\a\\b.c\\halvorn.exe", false, DumpPathResult::kOk,
       std::wstring(L"C:\\a\\b.c\\") + kName},
      {"NoSeparator", L"halvorn.exe", false, DumpPathResult::kNoFolder, L""},
      {"EmptyPath", L"", false, DumpPathResult::kNoFolder, L""},
      // Folder and name fill the buffer to its last character, the terminator included.
      {"FitsExactly", fits + L"x.exe", false, DumpPathResult::kOk, fits + kName},
      {"OneCharacterTooLong", one_over + L"x.exe", false, DumpPathResult::kTooLong, L""},
      // A cut path may end in a parent folder's separator: refused whatever it holds.
      {"CutByTheSystem", L"C:\\deep\\deeper\\halvorn.e", true, DumpPathResult::kTooLong, L""},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    wchar_t out[kDumpPathBufferSize];
    out[0] = L'?';
    const DumpPathResult result = ComposeDumpPath<wchar_t>(c.module.data(), c.module.size(), c.cut,
                                                           L'\\', kName, out, kDumpPathBufferSize);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::wstring(out), c.path);
  }
}

TEST(CrashDumpTest, PathWithNarrowCharactersAndSlash) {
  char out[64];
  const std::string module = "/opt/halvorn/halvornd";
  EXPECT_EQ(
      ComposeDumpPath<char>(module.data(), module.size(), false, '/', "N.dmp", out, sizeof out),
      DumpPathResult::kOk);
  EXPECT_EQ(std::string(out), "/opt/halvorn/N.dmp");
  // The module path need not be terminated: only its length counts.
  const char unterminated[] = {'/', 'a', '/', 'b', 'X', '/'};
  EXPECT_EQ(ComposeDumpPath<char>(unterminated, 4, false, '/', "N.dmp", out, sizeof out),
            DumpPathResult::kOk);
  EXPECT_EQ(std::string(out), "/a/N.dmp");
}

}  // namespace
}  // namespace halvorn::service
