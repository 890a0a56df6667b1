#include "service/win/crash_dump_win.h"

#include <dbghelp.h>
#include <objbase.h>

#include <cstring>

#include "service/crash_dump.h"
#include "util/win/scoped_handle.h"

namespace halvorn::service::win {

namespace {

// Made at installation, so that the crashing thread only has to set an event.
HANDLE g_fatal_exit_event = nullptr;
volatile LONG g_exception_code = 0;

DWORD WINAPI FatalExitWatch(LPVOID /*unused*/) {
  ::WaitForSingleObject(g_fatal_exit_event, INFINITE);
  ::Sleep(kFatalExitBoundMs);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(g_exception_code));
  return 0;
}

// Nothing here allocates: the heap may be what broke.
void WriteDump(EXCEPTION_POINTERS* pointers) {
  wchar_t path[kDumpPathBufferSize];
  wchar_t name[kDumpNameBufferSize];
  wchar_t dump_path[kDumpPathBufferSize];
  std::memset(path, 0, sizeof path);
  std::memset(name, 0, sizeof name);

  const DWORD length = ::GetModuleFileNameW(nullptr, path, kDumpPathBufferSize);
  // A full buffer means the path was cut (or, on older systems, left unterminated).
  const bool cut = length == 0 || length >= kDumpPathBufferSize;

  GUID guid{};
  if (FAILED(::CoCreateGuid(&guid))) {
    return;  // without a name the path would be the folder itself: no dump
  }
  DumpGuid dump_guid;
  dump_guid.data1 = guid.Data1;
  dump_guid.data2 = guid.Data2;
  dump_guid.data3 = guid.Data3;
  std::memcpy(dump_guid.data4, guid.Data4, sizeof dump_guid.data4);
  FormatDumpFileName(dump_guid, name);

  if (ComposeDumpPath<wchar_t>(path, cut ? 0 : length, cut, L'\\', name, dump_path,
                               kDumpPathBufferSize) != DumpPathResult::kOk) {
    return;  // no folder, or a folder too deep for the buffer: no dump
  }
  ::halvorn::win::ScopedHandle file(::CreateFileW(dump_path, GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.is_valid()) {
    return;
  }
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = ::GetCurrentThreadId();
  exception.ExceptionPointers = pointers;
  exception.ClientPointers = TRUE;
  ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), MiniDumpNormal,
                      &exception, nullptr, nullptr);
}

}  // namespace

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pointers) {
  WriteDump(pointers);
  if (pointers != nullptr && pointers->ExceptionRecord != nullptr) {
    g_exception_code = static_cast<LONG>(pointers->ExceptionRecord->ExceptionCode);
  }
  if (g_fatal_exit_event != nullptr) {
    ::SetEvent(g_fatal_exit_event);
  }
  ::FatalAppExitW(0xFFFFFFFFu, L"Fatal Error");
  return EXCEPTION_CONTINUE_SEARCH;  // not reached: the process has ended
}

void InstallCrashDumpFilter() {
  ::SetUnhandledExceptionFilter(&CrashDumpFilter);
  g_fatal_exit_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_fatal_exit_event != nullptr) {
    // Lives as long as the process; it only waits.
    HANDLE watch = ::CreateThread(nullptr, 0, &FatalExitWatch, nullptr, 0, nullptr);
    if (watch != nullptr) {
      ::CloseHandle(watch);
    }
  }
}

}  // namespace halvorn::service::win
