// The crash dump handler of the Windows build.

#ifndef HALVORN_SERVICE_WIN_CRASH_DUMP_WIN_H_
#define HALVORN_SERVICE_WIN_CRASH_DUMP_WIN_H_

#include <windows.h>

namespace halvorn::service::win {

// The process's last-chance exception filter: writes a minidump of the process, named by a
// new GUID, into the executable's folder, then ends the process with "Fatal Error". Writes no
// log line and takes no lock of the service.
LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pointers);

}  // namespace halvorn::service::win

#endif  // HALVORN_SERVICE_WIN_CRASH_DUMP_WIN_H_
