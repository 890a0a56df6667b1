// Device discovery on Windows: SetupAPI for the present devices and the network-class
// registry key, the registry "A" API for the driver keys. The adapter list is in
// adapters_win.cc.

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include "device/device_platform.h"
#include "device/win/adapters_win.h"
#include "util/win/os_status_win.h"
#include "util/win/scoped_handle.h"

namespace halvorn {
namespace {

using device_platform::AdapterRecord;
using device_platform::DeviceList;
using device_platform::DeviceProperty;
using device_platform::RegistryKey;

// The failure of the call that has just failed: never Ok, even when the call left no error
// number (then kOther with the number 0).
OsStatus LastFailure() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? StatusOfWindowsError(error) : OsStatus::Other(0);
}

// GUID_DEVCLASS_NET, the network adapter setup class.
constexpr GUID kNetClassGuid = {0x4D36E972,
                                0xE325,
                                0x11CE,
                                {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A device information set (SetupDiDestroyDeviceInfoList).
struct DevInfoTraits {
  using Handle = HDEVINFO;
  static HDEVINFO InvalidValue() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HDEVINFO h) { return h != INVALID_HANDLE_VALUE; }
  static void Close(HDEVINFO h) { ::SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDevInfo = ScopedGeneric<DevInfoTraits>;

class WinDeviceList : public DeviceList {
 public:
  explicit WinDeviceList(HDEVINFO h) : list_(h) {}

  OsStatus SelectDevice(std::uint32_t index) override {
    device_ = {};
    device_.cbSize = sizeof(SP_DEVINFO_DATA);
    selected_ = ::SetupDiEnumDeviceInfo(list_.get(), index, &device_) != FALSE;
    return selected_ ? OsStatus::Ok() : LastFailure();
  }

  bool ReadProperty(DeviceProperty property, std::span<std::uint8_t> buffer) override {
    if (!selected_) {
      return false;
    }
    return ::SetupDiGetDeviceRegistryPropertyW(list_.get(), &device_, static_cast<DWORD>(property),
                                               nullptr, buffer.data(),
                                               static_cast<DWORD>(buffer.size()), nullptr) != FALSE;
  }

 private:
  ScopedDevInfo list_;
  SP_DEVINFO_DATA device_{};
  bool selected_ = false;
};

class WinRegistryKey : public RegistryKey {
 public:
  explicit WinRegistryKey(HKEY h) : key_(h) {}

  OsStatus EnumSubKey(std::uint32_t index, char* name, std::uint32_t* name_size) override {
    DWORD size = *name_size;
    const LONG rc =
        ::RegEnumKeyExA(key_.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) {
      *name_size = size;
    }
    return StatusOfWindowsError(static_cast<DWORD>(rc));
  }

  OsStatus OpenSubKey(const char* name, std::unique_ptr<RegistryKey>* key) override {
    HKEY sub = nullptr;
    const LONG rc = ::RegOpenKeyExA(key_.get(), name, 0, KEY_READ, &sub);
    if (rc == ERROR_SUCCESS) {
      *key = std::make_unique<WinRegistryKey>(sub);
    }
    return StatusOfWindowsError(static_cast<DWORD>(rc));
  }

  OsStatus QueryValue(const char* name, std::uint8_t* data, std::uint32_t* size) override {
    DWORD bytes = *size;
    const LONG rc = ::RegQueryValueExA(key_.get(), name, nullptr, nullptr, data, &bytes);
    *size = bytes;
    return StatusOfWindowsError(static_cast<DWORD>(rc));
  }

 private:
  win::ScopedRegKey key_;
};

class WinDevicePlatform final : public DevicePlatform {
 public:
  OsStatus GetPresentDevices(std::unique_ptr<DeviceList>* list) override {
    HDEVINFO h =
        ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (h == INVALID_HANDLE_VALUE) {
      return LastFailure();
    }
    *list = std::make_unique<WinDeviceList>(h);
    return OsStatus::Ok();
  }

  std::uint32_t GetAdapterListSize(std::uint32_t family, std::uint32_t flags) override {
    return device_win::AdapterListSize(family, flags);
  }

  OsStatus GetAdapterList(std::uint32_t family,
                          std::uint32_t flags,
                          std::span<std::uint8_t> buffer,
                          std::vector<AdapterRecord>* adapters) override {
    return device_win::ListAdapters(family, flags, buffer, adapters);
  }

  std::unique_ptr<RegistryKey> OpenNetClassKey() override {
    HKEY key =
        ::SetupDiOpenClassRegKeyExW(&kNetClassGuid, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE || key == nullptr) {
      return nullptr;
    }
    return std::make_unique<WinRegistryKey>(key);
  }
};

}  // namespace

DevicePlatform& SystemDevicePlatform() {
  static WinDevicePlatform platform;
  return platform;
}

}  // namespace halvorn
