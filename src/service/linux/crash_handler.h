// The crash handler of the Linux build: on SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT it writes a
// minidump (the Windows minidump format, as lldb and breakpad read it) named from a new random
// GUID into the folder of the executable, writes "Fatal Error" to standard error and ends the
// process with the default action of SIGABRT, so that systemd sees a failure.
//
// The handler runs on an alternate signal stack (so a stack overflow of the main thread still
// gets a dump) and is async-signal-safe: no allocation, no lock, no stdio. Everything it needs
// that the system could only hand out through such calls is prepared by InstallCrashHandler: the
// dump folder, the list of loaded modules with their build ids, the alternate stack.
//
// The dump holds: the system information; the process id (misc info); the exception (the signal as
// the exception code, its si_code as the flags, si_addr as the address) with the registers of the
// thread that took the signal; the thread list, each thread with its stack memory from its stack
// pointer to the end of the mapping that holds it (at most kMaxStackBytes); the same stacks as the
// memory list; and the module list. Other threads are not stopped: their stack pointer and
// instruction pointer are the ones the kernel reports for a thread blocked in a system call
// (/proc/self/task/<id>/syscall); a thread that is running has no registers in the dump.

#ifndef HALVORN_SERVICE_LINUX_CRASH_HANDLER_H_
#define HALVORN_SERVICE_LINUX_CRASH_HANDLER_H_

#include <cstddef>

namespace halvorn::service {

inline constexpr std::size_t kMaxStackBytes = 256 * 1024;

// Prepares and installs the handler for the five signals. False when the executable's path or
// the alternate stack cannot be had: the handler is then installed all the same and ends the
// process with "Fatal Error" without a dump when it finds no folder.
bool InstallCrashHandler();

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_LINUX_CRASH_HANDLER_H_
