#include <windows.h>

#include "util/registry_platform.h"
#include "util/win/os_status_win.h"
#include "util/win/scoped_handle.h"

namespace halvorn {

namespace {

OsStatus StatusOf(LSTATUS status) {
  return StatusOfWindowsError(static_cast<std::uint32_t>(status));
}

class WinKey final : public RegistryKey {
 public:
  explicit WinKey(HKEY key) : key_(key) {}
  WinKey(const WinKey&) = delete;
  WinKey& operator=(const WinKey&) = delete;

  OsStatus Query(const std::wstring& name,
                 std::uint32_t* type,
                 std::uint8_t* data,
                 std::uint32_t* size) override {
    DWORD t = *type;
    DWORD s = *size;
    const LSTATUS status = ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &t, data, &s);
    *type = t;
    *size = s;
    return StatusOf(status);
  }

 private:
  win::ScopedRegKey key_;
};

class WinRegistry final : public RegistryPlatform {
 public:
  OsStatus OpenLocalMachineKey(const std::wstring& sub_key,
                               std::unique_ptr<RegistryKey>* key) override {
    HKEY raw = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, sub_key.c_str(), 0, KEY_READ, &raw);
    if (status == ERROR_SUCCESS) {
      *key = std::make_unique<WinKey>(raw);
    }
    return StatusOf(status);
  }
};

}  // namespace

RegistryPlatform& SystemRegistryPlatform() {
  static WinRegistry registry;
  return registry;
}

}  // namespace halvorn
