// The crash filter: a program that installs it and crashes on a worker thread leaves a
// minidump named by a new GUID beside its executable, each crash its own, and ends through
// the "Fatal Error" message: Wine's relay trace of FatalAppExitW, switched on for the
// program, shows the call with its arguments (check_dumps.sh reads it).
//
// HALVORN_DUMP_FOLDER, when set, names the folder the program is copied to, so that the
// dumps stay there for a reader outside Wine (check_dumps.sh runs lldb on them).

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "service/win/dump_files.h"
#include "support/log_capture.h"
#include "support/win/service_control.h"
#include "util/win/scoped_handle.h"

namespace halvorn {
namespace {

using ::halvorn::win::ScopedHandle;
using ::testing::HasSubstr;

// Wine's relay trace of FatalAppExitW only, for the programs this test starts.
class FatalExitTrace {
 public:
  FatalExitTrace() {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr);
    const std::wstring value = L"kernelbase.FatalAppExitW;kernel32.FatalAppExitW";
    ::RegSetValueExW(key_, L"RelayInclude", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  ~FatalExitTrace() {
    ::RegDeleteValueW(key_, L"RelayInclude");
    ::RegCloseKey(key_);
  }
  FatalExitTrace(const FatalExitTrace&) = delete;
  FatalExitTrace& operator=(const FatalExitTrace&) = delete;

 private:
  static constexpr const wchar_t* kKey = L"Software\\Wine\\Debug";
  HKEY key_ = nullptr;
};

// Runs `exe` with Wine's relay trace of FatalAppExitW on and returns its exit code. The trace
// goes to the standard error of the Wine process tree, which check_dumps.sh reads.
DWORD RunTraced(const std::filesystem::path& exe) {
  FatalExitTrace trace;
  testing::SetEnv("WINEDEBUG", "-all,+relay");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring line = L"\"" + exe.wstring() + L"\"";
  const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        exe.parent_path().wstring().c_str(), &startup, &info);
  testing::SetEnv("WINEDEBUG", "-all");
  if (!started) {
    return static_cast<DWORD>(-1);
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  ::WaitForSingleObject(process.get(), 90000);
  DWORD code = static_cast<DWORD>(-1);
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

std::filesystem::path DumpFolder(const testing::TempDir& fallback) {
  wchar_t keep[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"HALVORN_DUMP_FOLDER", keep, MAX_PATH) == 0) {
    return fallback.path();
  }
  const std::filesystem::path folder(keep);
  std::filesystem::create_directories(folder);
  for (const auto& old : testing::Dumps(folder)) {
    std::filesystem::remove(old);
  }
  return folder;
}

TEST(ServiceCrashWinTest, EachCrashLeavesItsOwnDumpAndEndsWithFatalError) {
  testing::TempDir temp;
  const std::filesystem::path folder = DumpFolder(temp);
  const std::filesystem::path exe = folder / "crash_filter_program.exe";
  std::filesystem::copy_file(
      std::filesystem::path(testing::ModuleFolder()) / "crash_filter_program.exe", exe,
      std::filesystem::copy_options::overwrite_existing);

  for (std::size_t crash = 1; crash <= 2; ++crash) {
    SCOPED_TRACE(::testing::Message() << "crash " << crash);
    const DWORD code = RunTraced(exe);
    EXPECT_EQ(testing::Dumps(folder).size(), crash);
    // Wine's FatalAppExitW shows the message (no window can be made here), then ends the
    // process with 1; the bound that ends a process whose message nobody answers would end
    // it with the exception's code instead.
    EXPECT_EQ(code, 1u);
  }

  testing::ExpectGuidNamedMinidumps(folder, 2);
}

}  // namespace
}  // namespace halvorn
