// Test side of the fake mobile-broadband provider: registers the provider DLL (built beside the
// test executables) under the runtime class names in this prefix's registry, loads it into the
// process (the same module the runtime's activation loads) and drives it.

#ifndef HALVORN_TESTS_MBN_WIN_FAKE_PROVIDER_CLIENT_H_
#define HALVORN_TESTS_MBN_WIN_FAKE_PROVIDER_CLIENT_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "fake_provider_control.h"

namespace halvorn::testing {

class FakeProvider {
 public:
  // The registered and loaded provider; null, with a line on standard error saying why, when
  // it cannot be set up.
  static FakeProvider* Get();

  // The provider's initial script (see FakeProviderDefaultScriptFn).
  FakeScript DefaultScript() const {
    FakeScript script{};
    default_script_(&script);
    return script;
  }
  void Reset(const FakeScript& script) const { reset_(&script); }
  FakeRecord Record() const {
    FakeRecord record{};
    get_record_(&record);
    return record;
  }
  bool CompleteHeld(std::int32_t status) const { return complete_held_(status) != 0; }
  void RaiseAccountEvent(bool added) const { raise_account_event_(added ? 1 : 0); }
  void WaitIdle() const { wait_idle_(); }

 private:
  FakeProvider() = default;
  std::string Load();

  FakeProviderDefaultScriptFn default_script_ = nullptr;
  FakeProviderResetFn reset_ = nullptr;
  FakeProviderGetRecordFn get_record_ = nullptr;
  FakeProviderCompleteHeldFn complete_held_ = nullptr;
  FakeProviderRaiseAccountEventFn raise_account_event_ = nullptr;
  FakeProviderWaitIdleFn wait_idle_ = nullptr;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_MBN_WIN_FAKE_PROVIDER_CLIENT_H_
