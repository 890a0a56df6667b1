// Activation factories of runtime classes, looked up by class name through the runtime
// (RoGetActivationFactory) and kept for the life of their cache when they can be used from
// any thread.

#ifndef HALVORN_MBN_WIN_ACTIVATION_H_
#define HALVORN_MBN_WIN_ACTIVATION_H_

#include <windows.h>

#include <atomic>
#include <utility>

#include "mbn/win/com_ptr.h"
#include "mbn/win/winrt_abi.h"

namespace halvorn::mbn_win {

// Looks up the activation factory of `class_name` for interface `iid`. A thread that has not
// joined an apartment while the process has no multithreaded apartment is refused by the
// runtime (CO_E_NOTINITIALIZED); the process's use of the multithreaded apartment is then
// raised for good (CoIncrementMTAUsage, never lowered) and the lookup repeated once.
HRESULT LookUpActivationFactory(const wchar_t* class_name, const GUID& iid, void** factory);

// True when `object` may be called from any thread: it answers IAgileObject, or it marshals
// through the free-threaded marshaler.
template <class T>
bool IsAgile(const winrt_abi::ComPtr<T>& object) {
  winrt_abi::ComPtr<winrt_abi::IAgileObjectAbi> agile;
  if (SUCCEEDED(object.As(&agile)) && agile) {
    return true;
  }
  winrt_abi::ComPtr<winrt_abi::IMarshalAbi> marshal;
  if (FAILED(object.As(&marshal)) || !marshal) {
    return false;
  }
  CLSID unmarshal_class{};
  const HRESULT hr =
      marshal->lpVtbl->GetUnmarshalClass(marshal.get(), T::kIid, object.get(), MSHCTX_INPROC,
                                         nullptr, MSHLFLAGS_NORMAL, &unmarshal_class);
  return SUCCEEDED(hr) &&
         winrt_abi::SameGuid(unmarshal_class, winrt_abi::kClsidFreeThreadedMarshaler);
}

// The activation factory (interface `Factory`) of one runtime class. It is looked up on first
// use; an agile factory is then kept and shared by every later call on any thread, a
// non-agile one serves the one call and is released. When two threads look it up at once,
// the first one stored stays and the other thread's is released.
template <class Factory>
class FactoryCache {
 public:
  // `class_name` must outlive the cache (a literal).
  explicit FactoryCache(const wchar_t* class_name) : class_name_(class_name) {}
  FactoryCache(const FactoryCache&) = delete;
  FactoryCache& operator=(const FactoryCache&) = delete;
  ~FactoryCache() { winrt_abi::ComPtr<Factory>::Adopt(cached_.exchange(nullptr)); }

  HRESULT Get(winrt_abi::ComPtr<Factory>* factory) {
    // A stored factory is never released while the cache lives, so taking a reference to it
    // after the load is safe.
    if (Factory* stored = cached_.load(std::memory_order_acquire)) {
      *factory = winrt_abi::ComPtr<Factory>::Share(stored);
      return S_OK;
    }
    winrt_abi::ComPtr<Factory> fresh;
    const HRESULT hr = LookUpActivationFactory(class_name_, Factory::kIid, fresh.ReceiveVoid());
    if (FAILED(hr)) {
      return hr;
    }
    if (!fresh) {
      return E_POINTER;
    }
    if (!IsAgile(fresh)) {
      *factory = std::move(fresh);
      return S_OK;
    }
    Factory* expected = nullptr;
    if (cached_.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
      // The cache keeps the lookup's reference; the caller gets one of its own.
      *factory = winrt_abi::ComPtr<Factory>::Share(fresh.Detach());
      return S_OK;
    }
    // Another thread stored its factory first: use that one, ours is released.
    *factory = winrt_abi::ComPtr<Factory>::Share(expected);
    return S_OK;
  }

 private:
  const wchar_t* const class_name_;
  std::atomic<Factory*> cached_{nullptr};
};

}  // namespace halvorn::mbn_win

#endif  // HALVORN_MBN_WIN_ACTIVATION_H_
