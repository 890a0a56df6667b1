#include <windows.h>

#include "util/registry_platform.h"
#include "util/win/scoped_handle.h"

namespace halvorn::registry_platform {

namespace {

class WinKey final : public Key {
 public:
  explicit WinKey(HKEY key) : key_(key) {}
  WinKey(const WinKey&) = delete;
  WinKey& operator=(const WinKey&) = delete;

  long Query(const std::wstring& name,
             std::uint32_t* type,
             std::uint8_t* data,
             std::uint32_t* size) override {
    DWORD t = *type;
    DWORD s = *size;
    LSTATUS status = ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &t, data, &s);
    *type = t;
    *size = s;
    // The registry functions return their error instead of setting the thread's last error;
    // keep it there as well so that the logged code is this call's.
    ::SetLastError(static_cast<DWORD>(status));
    return status;
  }

 private:
  win::ScopedRegKey key_;
};

}  // namespace

long OpenLocalMachineKey(const std::wstring& sub_key, std::unique_ptr<Key>* key) {
  HKEY raw = nullptr;
  LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sub_key.c_str(), 0, KEY_READ, &raw);
  ::SetLastError(static_cast<DWORD>(status));
  if (status == ERROR_SUCCESS) {
    *key = std::make_unique<WinKey>(raw);
  }
  return status;
}

}  // namespace halvorn::registry_platform
