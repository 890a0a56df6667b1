// The crash dump handler of the Windows build.

#ifndef HALVORN_SERVICE_WIN_CRASH_DUMP_WIN_H_
#define HALVORN_SERVICE_WIN_CRASH_DUMP_WIN_H_

#include <windows.h>

namespace halvorn::service::win {

// How long the end of a crashed process may wait for the "Fatal Error" message. A service has
// no desktop on which the message could be answered (under Wine the message box of a service
// waits for ever), so the process is then ended with the exception's code.
inline constexpr DWORD kFatalExitBoundMs = 5000;

// The process's last-chance exception filter: writes a minidump of the process, named by a
// new GUID, into the executable's folder, then ends the process with "Fatal Error". Writes no
// log line and takes no lock of the service.
LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pointers);

// Makes CrashDumpFilter the unhandled-exception filter, and prepares the thread that ends the
// process should the "Fatal Error" message not end it within kFatalExitBoundMs.
void InstallCrashDumpFilter();

}  // namespace halvorn::service::win

#endif  // HALVORN_SERVICE_WIN_CRASH_DUMP_WIN_H_
