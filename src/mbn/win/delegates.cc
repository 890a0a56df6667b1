#include "mbn/win/delegates.h"

#include <new>

namespace halvorn::mbn_win {

namespace {

// Runs `callback` without letting an exception cross into the runtime, which would be
// undefined behaviour; the runtime gets a failure code instead.
template <class Callback, class... Args>
HRESULT InvokeContained(const Callback& callback, Args... args) {
  try {
    if (callback) {
      callback(args...);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace

const winrt_abi::ICommandResultCompletedHandler::Vtbl CompletedHandler::kVtbl = {
    {&QueryInterface, &AddRef, &Release},
    &Invoke,
};

HRESULT STDMETHODCALLTYPE
CompletedHandler::Invoke(winrt_abi::ICommandResultCompletedHandler* self,
                         winrt_abi::ICommandResultAsyncOperation* /*operation*/,
                         winrt_abi::AsyncStatus status) {
  CompletedHandler* handler = From(self);
  if (handler->invoked_.exchange(true, std::memory_order_acq_rel)) {
    return S_OK;
  }
  return InvokeContained(handler->callback_,
                         static_cast<mbn_platform::AsyncStatus>(static_cast<std::int32_t>(status)));
}

const winrt_abi::IAccountEventHandler::Vtbl AccountEventHandler::kVtbl = {
    {&QueryInterface, &AddRef, &Release},
    &Invoke,
};

HRESULT STDMETHODCALLTYPE
AccountEventHandler::Invoke(winrt_abi::IAccountEventHandler* self,
                            winrt_abi::IMobileBroadbandAccountWatcher* /*sender*/,
                            winrt_abi::IMobileBroadbandAccountEventArgs* /*args*/) {
  return InvokeContained(From(self)->callback_);
}

const winrt_abi::IAccountObjectEventHandler::Vtbl AccountObjectEventHandler::kVtbl = {
    {&QueryInterface, &AddRef, &Release},
    &Invoke,
};

HRESULT STDMETHODCALLTYPE
AccountObjectEventHandler::Invoke(winrt_abi::IAccountObjectEventHandler* self,
                                  winrt_abi::IMobileBroadbandAccountWatcher* /*sender*/,
                                  winrt_abi::IInspectableAbi* /*args*/) {
  return InvokeContained(From(self)->callback_);
}

}  // namespace halvorn::mbn_win
