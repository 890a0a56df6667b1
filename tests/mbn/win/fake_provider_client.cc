#include "fake_provider_client.h"

#include <cstdio>
#include <string>

namespace halvorn::testing {

namespace {

constexpr const wchar_t* kProviderDll = L"halvorn_fake_mbn_provider.dll";
constexpr const wchar_t* kClassRoot = L"Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\";
constexpr const wchar_t* kClasses[] = {
    L"Windows.Networking.NetworkOperators.MobileBroadbandModem",
    L"Windows.Networking.NetworkOperators.MobileBroadbandAccountWatcher",
    L"Windows.Storage.Streams.DataWriter",
};

// The provider's full path: beside this executable.
std::wstring ProviderPath() {
  wchar_t exe[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, n);
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + kProviderDll;
}

// Wine's runtime activation reads the DllPath value of the class's key (see its combase);
// DllPath is also the value the system itself reads for in-process classes.
std::string Register(const std::wstring& dll) {
  for (const wchar_t* name : kClasses) {
    HKEY key = nullptr;
    const std::wstring path = std::wstring(kClassRoot) + name;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr);
    if (rc != ERROR_SUCCESS) {
      return "RegCreateKeyExW failed: " + std::to_string(rc);
    }
    rc = RegSetValueExW(key, L"DllPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                        static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
      return "RegSetValueExW failed: " + std::to_string(rc);
    }
  }
  return {};
}

template <class Fn>
bool Bind(HMODULE module, const char* name, Fn* fn) {
  // Through the generic function pointer type, which converts to and from any other.
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return *fn != nullptr;
}

}  // namespace

FakeProvider* FakeProvider::Get() {
  static FakeProvider* const provider = [] {
    auto* p = new FakeProvider;
    if (const std::string error = p->Load(); !error.empty()) {
      std::fprintf(stderr, "fake provider: %s\n", error.c_str());
      delete p;
      return static_cast<FakeProvider*>(nullptr);
    }
    return p;
  }();
  return provider;
}

std::string FakeProvider::Load() {
  const std::wstring dll = ProviderPath();
  if (std::string error = Register(dll); !error.empty()) {
    return error;
  }
  // Kept loaded for the life of the process, like the runtime keeps it.
  HMODULE module = LoadLibraryW(dll.c_str());
  if (module == nullptr) {
    return "LoadLibraryW failed: " + std::to_string(GetLastError());
  }
  if (!Bind(module, "FakeProviderDefaultScript", &default_script_) ||
      !Bind(module, "FakeProviderReset", &reset_) ||
      !Bind(module, "FakeProviderGetRecord", &get_record_) ||
      !Bind(module, "FakeProviderCompleteHeld", &complete_held_) ||
      !Bind(module, "FakeProviderRaiseAccountEvent", &raise_account_event_) ||
      !Bind(module, "FakeProviderWaitIdle", &wait_idle_)) {
    return "a control function is missing";
  }
  return {};
}

}  // namespace halvorn::testing
