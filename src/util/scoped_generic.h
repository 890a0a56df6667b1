// One owner type for every kind of operating-system handle. Each kind is told apart by its
// traits: the handle type, the value that is no handle, which values are handles, and how one
// is closed. The Windows handles are in util/win/scoped_handle.h, the file descriptor in
// util/linux/scoped_fd.h.

#ifndef HALVORN_UTIL_SCOPED_GENERIC_H_
#define HALVORN_UTIL_SCOPED_GENERIC_H_

#include <utility>

namespace halvorn {

// Owns one handle described by `Traits`:
//   using Handle = ...;
//   static Handle InvalidValue();    // what an empty owner holds
//   static bool IsValid(Handle h);   // a handle that must be closed
//   static void Close(Handle h);
// and closes it once: when destroyed, reset or assigned another. Movable, not copyable.
template <class Traits>
class ScopedGeneric {
 public:
  using Handle = typename Traits::Handle;

  ScopedGeneric() = default;
  explicit ScopedGeneric(Handle handle) : handle_(handle) {}
  ScopedGeneric(ScopedGeneric&& other) noexcept : handle_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ~ScopedGeneric() { reset(); }

  Handle get() const { return handle_; }
  bool is_valid() const { return Traits::IsValid(handle_); }

  // Closes the owned handle (if any) and takes `handle` instead; the handle already owned is
  // kept as it is.
  void reset(Handle handle = Traits::InvalidValue()) {
    if (handle == handle_) {
      return;
    }
    const Handle old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) {
      Traits::Close(old);
    }
  }

  // Gives up ownership without closing; the owner is left empty.
  [[nodiscard]] Handle release() { return std::exchange(handle_, Traits::InvalidValue()); }

 private:
  Handle handle_ = Traits::InvalidValue();
};

}  // namespace halvorn

#endif  // HALVORN_UTIL_SCOPED_GENERIC_H_
