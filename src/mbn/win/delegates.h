// The backend's own runtime objects: delegates (callbacks handed to the runtime) that carry a
// std::function. The runtime holds a delegate by reference count and may invoke it on any of
// its threads until it lets go; the function, and whatever it shares, lives exactly as long.

#ifndef HALVORN_MBN_WIN_DELEGATES_H_
#define HALVORN_MBN_WIN_DELEGATES_H_

#include <windows.h>

#include <atomic>
#include <functional>
#include <new>
#include <utility>

#include "mbn/mbn_platform.h"
#include "mbn/win/com_ptr.h"
#include "mbn/win/winrt_abi.h"

namespace halvorn::mbn_win {

// IUnknown of a delegate object `Derived` implementing the delegate interface `Iface`. The
// object starts with one reference, which its creator owns; it deletes itself when the last
// reference goes. It answers IAgileObject: a delegate may be invoked from any thread.
template <class Derived, class Iface>
class Delegate : public Iface {
 public:
  Delegate(const Delegate&) = delete;
  Delegate& operator=(const Delegate&) = delete;

  // A new delegate as an owned reference; empty when out of memory.
  template <class... Args>
  static winrt_abi::ComPtr<Iface> Create(Args&&... args) {
    Derived* object = new (std::nothrow) Derived(std::forward<Args>(args)...);
    return winrt_abi::ComPtr<Iface>::Adopt(object);
  }

 protected:
  Delegate() { this->lpVtbl = &Derived::kVtbl; }
  ~Delegate() = default;

  static Derived* From(Iface* self) { return static_cast<Derived*>(self); }

  static HRESULT STDMETHODCALLTYPE QueryInterface(Iface* self, const IID& iid, void** object) {
    if (object == nullptr) {
      return E_POINTER;
    }
    if (winrt_abi::SameGuid(iid, Iface::kIid) ||
        winrt_abi::SameGuid(iid, winrt_abi::IUnknownAbi::kIid) ||
        winrt_abi::SameGuid(iid, winrt_abi::IAgileObjectAbi::kIid)) {
      AddRef(self);
      *object = self;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  static ULONG STDMETHODCALLTYPE AddRef(Iface* self) {
    return From(self)->refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  static ULONG STDMETHODCALLTYPE Release(Iface* self) {
    const ULONG left = From(self)->refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
      delete From(self);
    }
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// AsyncOperationCompletedHandler<MobileBroadbandDeviceServiceCommandResult>: passes the final
// status of the command to the callback, once; further invocations are ignored.
class CompletedHandler final
    : public Delegate<CompletedHandler, winrt_abi::ICommandResultCompletedHandler> {
 public:
  using Callback = std::function<void(mbn_platform::AsyncStatus)>;
  static const winrt_abi::ICommandResultCompletedHandler::Vtbl kVtbl;

 private:
  friend class Delegate<CompletedHandler, winrt_abi::ICommandResultCompletedHandler>;
  explicit CompletedHandler(Callback callback) : callback_(std::move(callback)) {}

  static HRESULT STDMETHODCALLTYPE Invoke(winrt_abi::ICommandResultCompletedHandler* self,
                                          winrt_abi::ICommandResultAsyncOperation* operation,
                                          winrt_abi::AsyncStatus status);

  const Callback callback_;
  std::atomic<bool> invoked_{false};
};

// TypedEventHandler<MobileBroadbandAccountWatcher, MobileBroadbandAccountEventArgs>: calls the
// callback on every event; sender and arguments are not used.
class AccountEventHandler final
    : public Delegate<AccountEventHandler, winrt_abi::IAccountEventHandler> {
 public:
  static const winrt_abi::IAccountEventHandler::Vtbl kVtbl;

 private:
  friend class Delegate<AccountEventHandler, winrt_abi::IAccountEventHandler>;
  explicit AccountEventHandler(std::function<void()> callback) : callback_(std::move(callback)) {}

  static HRESULT STDMETHODCALLTYPE Invoke(winrt_abi::IAccountEventHandler* self,
                                          winrt_abi::IMobileBroadbandAccountWatcher* sender,
                                          winrt_abi::IMobileBroadbandAccountEventArgs* args);

  const std::function<void()> callback_;
};

// TypedEventHandler<MobileBroadbandAccountWatcher, Object>: the same for EnumerationCompleted.
class AccountObjectEventHandler final
    : public Delegate<AccountObjectEventHandler, winrt_abi::IAccountObjectEventHandler> {
 public:
  static const winrt_abi::IAccountObjectEventHandler::Vtbl kVtbl;

 private:
  friend class Delegate<AccountObjectEventHandler, winrt_abi::IAccountObjectEventHandler>;
  explicit AccountObjectEventHandler(std::function<void()> callback)
      : callback_(std::move(callback)) {}

  static HRESULT STDMETHODCALLTYPE Invoke(winrt_abi::IAccountObjectEventHandler* self,
                                          winrt_abi::IMobileBroadbandAccountWatcher* sender,
                                          winrt_abi::IInspectableAbi* args);

  const std::function<void()> callback_;
};

}  // namespace halvorn::mbn_win

#endif  // HALVORN_MBN_WIN_DELEGATES_H_
