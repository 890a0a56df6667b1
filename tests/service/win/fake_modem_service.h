// Test support: what the service's process finds under Wine when it runs the job against the
// fake runtime provider. The provider in the service's process takes its script from, and
// reports its record through, shared memory (FakeSharedState); IsDisableVerify = 1 stands for
// the checks Wine cannot answer (its SetupAPI keeps no device power data, its firmware table
// has no OEM structure).

#ifndef HALVORN_TESTS_SERVICE_WIN_FAKE_MODEM_SERVICE_H_
#define HALVORN_TESTS_SERVICE_WIN_FAKE_MODEM_SERVICE_H_

#include <windows.h>

#include <cstdint>

#include "fake_provider_control.h"
#include "util/win/scoped_handle.h"

namespace halvorn::testing {

inline constexpr const wchar_t* kAuthSettingsKeyPath = L"SOFTWARE\\Tessary Wireless Inc\\Brevane";

// IsDisableVerify = 1 in the prefix's registry for the life of the object.
class ChecksOff {
 public:
  ChecksOff() {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAuthSettingsKeyPath, 0, nullptr, 0, KEY_WRITE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return;
    }
    const DWORD one = 1;
    ok_ = ::RegSetValueExW(key, L"IsDisableVerify", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
    ::RegCloseKey(key);
  }
  ~ChecksOff() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAuthSettingsKeyPath); }
  ChecksOff(const ChecksOff&) = delete;
  ChecksOff& operator=(const ChecksOff&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// The shared memory through which the provider in the service's process takes its script and
// reports its record.
class SharedProviderState {
 public:
  explicit SharedProviderState(const FakeScript& script)
      : mapping_(::CreateFileMappingW(INVALID_HANDLE_VALUE,
                                      nullptr,
                                      PAGE_READWRITE,
                                      0,
                                      sizeof(FakeSharedState),
                                      HALVORN_FAKE_PROVIDER_SHARED_NAME)) {
    if (mapping_.is_valid()) {
      state_ = static_cast<FakeSharedState*>(
          ::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(FakeSharedState)));
    }
    if (state_ != nullptr) {
      state_->script = script;
      state_->record = FakeRecord{};
      state_->record.level = script.level;
    }
  }
  ~SharedProviderState() {
    if (state_ != nullptr) {
      ::UnmapViewOfFile(state_);
    }
  }
  SharedProviderState(const SharedProviderState&) = delete;
  SharedProviderState& operator=(const SharedProviderState&) = delete;

  bool ok() const { return state_ != nullptr; }
  // The level as the service's modem holds it (one aligned 32-bit word).
  std::int32_t Level() const {
    return static_cast<std::int32_t>(::InterlockedCompareExchange(
        reinterpret_cast<volatile LONG*>(&state_->record.level), 0, 0));
  }
  FakeRecord Record() const { return state_->record; }

 private:
  ::halvorn::win::ScopedHandle mapping_;
  FakeSharedState* state_ = nullptr;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_WIN_FAKE_MODEM_SERVICE_H_
