#include "device/win/win_devices.h"

namespace halvorn::testing {

CreatedDevice::CreatedDevice(const std::wstring& instance_id,
                             const std::wstring& description,
                             const std::wstring& hardware_ids)
    : set_(::SetupDiCreateDeviceInfoList(&kNetClass, nullptr)) {
  data_.cbSize = sizeof data_;
  created_ = set_ != INVALID_HANDLE_VALUE &&
             ::SetupDiCreateDeviceInfoW(set_, instance_id.c_str(), &kNetClass, description.c_str(),
                                        nullptr, 0, &data_) &&
             ::SetupDiSetDeviceRegistryPropertyW(
                 set_, &data_, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(hardware_ids.data()),
                 static_cast<DWORD>((hardware_ids.size() + 1) * sizeof(wchar_t))) &&
             ::SetupDiRegisterDeviceInfo(set_, &data_, 0, nullptr, nullptr, nullptr);
}

CreatedDevice::~CreatedDevice() {
  if (created_) {
    ::SetupDiRemoveDevice(set_, &data_);
  }
  if (set_ != INVALID_HANDLE_VALUE) {
    ::SetupDiDestroyDeviceInfoList(set_);
  }
}

DriverKey::DriverKey(const char* name, const std::string& cfg_id, const std::string& instance_id)
    : name_(name) {
  // A fresh Wine prefix has no network class key yet.
  HKEY made = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        L"System\\CurrentControlSet\\Control\\Class\\"
                        L"{4D36E972-E325-11CE-BFC1-08002BE10318}",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr) == ERROR_SUCCESS) {
    ::RegCloseKey(made);
  }
  HKEY klass =
      ::SetupDiOpenClassRegKeyExW(&kNetClass, KEY_ALL_ACCESS, DIOCR_INSTALLER, nullptr, nullptr);
  if (klass == INVALID_HANDLE_VALUE) {
    return;
  }
  HKEY key = nullptr;
  ok_ = ::RegCreateKeyExA(klass, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS;
  if (ok_) {
    ok_ = ::RegSetValueExA(key, "NetCfgInstanceId", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(cfg_id.c_str()),
                           static_cast<DWORD>(cfg_id.size() + 1)) == ERROR_SUCCESS &&
          ::RegSetValueExA(key, "DeviceInstanceID", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(instance_id.c_str()),
                           static_cast<DWORD>(instance_id.size() + 1)) == ERROR_SUCCESS;
    ::RegCloseKey(key);
  }
  ::RegCloseKey(klass);
}

DriverKey::~DriverKey() {
  HKEY klass =
      ::SetupDiOpenClassRegKeyExW(&kNetClass, KEY_ALL_ACCESS, DIOCR_INSTALLER, nullptr, nullptr);
  if (klass != INVALID_HANDLE_VALUE) {
    ::RegDeleteKeyA(klass, name_.c_str());
    ::RegCloseKey(klass);
  }
}

}  // namespace halvorn::testing
