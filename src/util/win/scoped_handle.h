// Ownership of Windows handles: the one owner type (util/scoped_generic.h) with the traits of
// each kind of handle.

#ifndef HALVORN_UTIL_WIN_SCOPED_HANDLE_H_
#define HALVORN_UTIL_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include "util/scoped_generic.h"

namespace halvorn::win {

// A kernel object handle (CloseHandle). Functions give either null or INVALID_HANDLE_VALUE
// for none.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static HANDLE InvalidValue() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
using ScopedHandle = ScopedGeneric<KernelHandleTraits>;

// A FindFirstFile search (FindClose).
struct FindHandleTraits {
  using Handle = HANDLE;
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
using ScopedFindHandle = ScopedGeneric<FindHandleTraits>;

// A registry key (RegCloseKey). SetupAPI gives INVALID_HANDLE_VALUE for none, the registry
// functions leave null.
struct RegKeyTraits {
  using Handle = HKEY;
  static HKEY InvalidValue() { return nullptr; }
  static bool IsValid(HKEY h) {
    return h != nullptr && h != static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  static void Close(HKEY h) { ::RegCloseKey(h); }
};
using ScopedRegKey = ScopedGeneric<RegKeyTraits>;

// A service control manager or service handle (CloseServiceHandle).
struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static SC_HANDLE InvalidValue() { return nullptr; }
  static bool IsValid(SC_HANDLE h) { return h != nullptr; }
  static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};
using ScopedServiceHandle = ScopedGeneric<ServiceHandleTraits>;

// An open event log (CloseEventLog).
struct EventLogTraits {
  using Handle = HANDLE;
  static HANDLE InvalidValue() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr; }
  static void Close(HANDLE h) { ::CloseEventLog(h); }
};
using ScopedEventLog = ScopedGeneric<EventLogTraits>;

}  // namespace halvorn::win

#endif  // HALVORN_UTIL_WIN_SCOPED_HANDLE_H_
