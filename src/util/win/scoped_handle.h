// Ownership of Windows handles: one owner type per kind of handle, told apart by traits that
// say which value is no handle and how one is closed.

#ifndef HALVORN_UTIL_WIN_SCOPED_HANDLE_H_
#define HALVORN_UTIL_WIN_SCOPED_HANDLE_H_

#include <windows.h>

namespace halvorn::win {

// Owns one handle described by `Traits` (a `Handle` type, `IsValid(Handle)` and
// `Close(Handle)`) and closes it once, when destroyed. Not copyable.
template <class Traits>
class ScopedGeneric {
 public:
  using Handle = typename Traits::Handle;

  explicit ScopedGeneric(Handle handle) : handle_(handle) {}
  ~ScopedGeneric() {
    if (is_valid()) {
      Traits::Close(handle_);
    }
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;

  Handle get() const { return handle_; }
  bool is_valid() const { return Traits::IsValid(handle_); }

 private:
  Handle handle_;
};

// A kernel object handle (CloseHandle). Functions give either null or INVALID_HANDLE_VALUE
// for none.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
using ScopedHandle = ScopedGeneric<KernelHandleTraits>;

// A FindFirstFile search (FindClose).
struct FindHandleTraits {
  using Handle = HANDLE;
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
using ScopedFindHandle = ScopedGeneric<FindHandleTraits>;

// A registry key (RegCloseKey). SetupAPI gives INVALID_HANDLE_VALUE for none, the registry
// functions leave null.
struct RegKeyTraits {
  using Handle = HKEY;
  static bool IsValid(HKEY h) {
    return h != nullptr && h != static_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  static void Close(HKEY h) { ::RegCloseKey(h); }
};
using ScopedRegKey = ScopedGeneric<RegKeyTraits>;

// A service control manager or service handle (CloseServiceHandle).
struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static bool IsValid(SC_HANDLE h) { return h != nullptr; }
  static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};
using ScopedServiceHandle = ScopedGeneric<ServiceHandleTraits>;

// An open event log (CloseEventLog).
struct EventLogTraits {
  using Handle = HANDLE;
  static bool IsValid(HANDLE h) { return h != nullptr; }
  static void Close(HANDLE h) { ::CloseEventLog(h); }
};
using ScopedEventLog = ScopedGeneric<EventLogTraits>;

}  // namespace halvorn::win

#endif  // HALVORN_UTIL_WIN_SCOPED_HANDLE_H_
