#include "mbn/win/activation.h"

#include <combaseapi.h>
#include <roapi.h>

#include "mbn/win/hstring_ref.h"

namespace halvorn::mbn_win {

HRESULT LookUpActivationFactory(const wchar_t* class_name, const GUID& iid, void** factory) {
  *factory = nullptr;
  const winrt_abi::HStringReference name(class_name);
  if (FAILED(name.result())) {
    return name.result();
  }
  HRESULT hr = RoGetActivationFactory(name.get(), iid, factory);
  if (hr == CO_E_NOTINITIALIZED) {
    // The cookie is dropped on purpose: the process stays in the multithreaded apartment until
    // it exits, so runtime objects stay usable on every thread, also on threads that join and
    // leave apartments of their own.
    CO_MTA_USAGE_COOKIE cookie = nullptr;
    if (const HRESULT raised = CoIncrementMTAUsage(&cookie); FAILED(raised)) {
      return raised;
    }
    hr = RoGetActivationFactory(name.get(), iid, factory);
  }
  return hr;
}

}  // namespace halvorn::mbn_win
