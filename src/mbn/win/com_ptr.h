// Owning reference to a COM interface declared in the C layout of winrt_abi.h: one reference
// is held while the pointer is set and released when it is reset, replaced or destroyed.

#ifndef HALVORN_MBN_WIN_COM_PTR_H_
#define HALVORN_MBN_WIN_COM_PTR_H_

#include <cstddef>
#include <utility>

#include "mbn/win/winrt_abi.h"

namespace halvorn::winrt_abi {

// The IUnknown slots of any interface declared in winrt_abi.h.
template <class T>
const UnknownSlots<T>& UnknownOf(T* p) {
  if constexpr (requires { p->lpVtbl->base.unknown; }) {
    return p->lpVtbl->base.unknown;
  } else {
    return p->lpVtbl->base;
  }
}

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}  // NOLINT: implicit, like a raw pointer
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) { AddRefIfSet(); }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr out;
    out.ptr_ = p;
    return out;
  }
  // Adds a reference of its own to `p`.
  static ComPtr Share(T* p) {
    ComPtr out;
    out.ptr_ = p;
    out.AddRefIfSet();
    return out;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Releases the reference held, if any.
  void Reset() {
    if (T* p = std::exchange(ptr_, nullptr)) {
      UnknownOf(p).Release(p);
    }
  }
  // Gives up ownership without releasing.
  [[nodiscard]] T* Detach() { return std::exchange(ptr_, nullptr); }

  // For out-parameters: releases what is held and hands out the empty slot.
  T** Receive() {
    Reset();
    return &ptr_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // QueryInterface for U; *out stays empty on failure.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!ptr_) {
      out->Reset();
      return E_POINTER;
    }
    return UnknownOf(ptr_).QueryInterface(ptr_, U::kIid, out->ReceiveVoid());
  }

 private:
  void AddRefIfSet() {
    if (ptr_) {
      UnknownOf(ptr_).AddRef(ptr_);
    }
  }

  T* ptr_ = nullptr;
};

}  // namespace halvorn::winrt_abi

#endif  // HALVORN_MBN_WIN_COM_PTR_H_
