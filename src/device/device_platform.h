// The operating-system operations that device discovery needs: one DevicePlatform per build,
// the system's reached through SystemDevicePlatform(). They return raw data (property bytes,
// adapter records, registry value bytes) and neutral statuses (util/os_status.h); the
// matching, limits and messages live in device_helper.cc, which maps a status back to its
// Windows error number (WindowsErrorCode) where a message prints one.

#ifndef HALVORN_DEVICE_DEVICE_PLATFORM_H_
#define HALVORN_DEVICE_DEVICE_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "util/os_status.h"

namespace halvorn {

namespace device_platform {

// Device registry properties (SPDRP_* values).
enum class DeviceProperty : std::uint32_t {
  kDeviceDesc = 0x00,      // REG_SZ, UTF-16LE
  kHardwareId = 0x01,      // REG_MULTI_SZ, UTF-16LE strings, ended by an empty one
  kDevicePowerData = 0x1E  // CM_POWER_DATA, 56 bytes
};

// A list of present devices (SetupDiGetClassDevsW with DIGCF_PRESENT | DIGCF_ALLCLASSES).
// Destroying it destroys the list.
class DeviceList {
 public:
  virtual ~DeviceList() = default;
  // Selects the device at `index` (SetupDiEnumDeviceInfo). kNoMoreItems after the last device;
  // another failure as the system reports it. Nothing is selected after a failure.
  virtual OsStatus SelectDevice(std::uint32_t index) = 0;
  // Reads a property of the selected device into `buffer` (SetupDiGetDeviceRegistryPropertyW
  // without type or required size). False when no device is selected, the device lacks the
  // property or it does not fit.
  virtual bool ReadProperty(DeviceProperty property, std::span<std::uint8_t> buffer) = 0;
};

// One network adapter of an IP_ADAPTER_ADDRESSES list.
struct AdapterRecord {
  std::string adapter_name;       // AdapterName: a braced GUID
  std::wstring description;       // Description
  std::wstring friendly_name;     // FriendlyName
  std::uint32_t if_type = 0;      // IfType (IANA ifType: 6 ethernet, 24 loopback, 243 WWAN)
  std::uint32_t oper_status = 0;  // OperStatus (1 up ... 7 lower layer down)
};

inline constexpr std::uint32_t kAfUnspec = 0;
inline constexpr std::uint32_t kAfInet = 2;
inline constexpr std::uint32_t kGaaFlagSkipMulticast = 2;

// An open registry key; closed when destroyed. Narrow names and values (the "A" API).
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegEnumKeyExA: on entry *name_size is the capacity of `name` in characters, the
  // terminating zero included; on success the name is written with its zero and
  // *name_size is its length without it. kNoMoreItems after the last subkey, kDoesNotFit
  // when the name does not fit.
  virtual OsStatus EnumSubKey(std::uint32_t index, char* name, std::uint32_t* name_size) = 0;
  // RegOpenKeyExA with KEY_READ: on success *key is the open subkey. kNotFound when there is
  // no such subkey, kAccessDenied when it may not be read.
  virtual OsStatus OpenSubKey(const char* name, std::unique_ptr<RegistryKey>* key) = 0;
  // RegQueryValueExA: on entry *size is the capacity of `data`; on success *size is the
  // number of bytes written (a string's terminating zero included when stored). kNotFound
  // when there is no such value, kDoesNotFit (with the size needed in *size) when it does
  // not fit.
  virtual OsStatus QueryValue(const char* name, std::uint8_t* data, std::uint32_t* size) = 0;
};

}  // namespace device_platform

class DevicePlatform {
 public:
  virtual ~DevicePlatform() = default;

  // All present devices of every class, in the order the system lists them: on success *list
  // is the list; on failure it is left alone and the status says why.
  virtual OsStatus GetPresentDevices(std::unique_ptr<device_platform::DeviceList>* list) = 0;

  // The number of bytes that GetAdaptersAddresses needs for `family` and `flags` (the call
  // with no buffer).
  virtual std::uint32_t GetAdapterListSize(std::uint32_t family, std::uint32_t flags) = 0;

  // GetAdaptersAddresses into `buffer`: Ok and the adapters in list order in *adapters, or
  // the failure, with *adapters left alone: kDoesNotFit when the list does not fit the
  // buffer (ERROR_BUFFER_OVERFLOW).
  virtual OsStatus GetAdapterList(std::uint32_t family,
                                  std::uint32_t flags,
                                  std::span<std::uint8_t> buffer,
                                  std::vector<device_platform::AdapterRecord>* adapters) = 0;

  // The registry key of the network adapter class ({4D36E972-E325-11CE-BFC1-08002BE10318},
  // SetupDiOpenClassRegKeyExW with KEY_READ and DIOCR_INSTALLER), whose subkeys are the
  // adapters' driver keys with the values "NetCfgInstanceId" and "DeviceInstanceID". Null
  // when it cannot be opened.
  virtual std::unique_ptr<device_platform::RegistryKey> OpenNetClassKey() = 0;
};

// The devices of this process's system: SetupAPI, IP Helper and the registry on Windows
// (win/device_win.cc); libudev over sysfs on Linux (linux/device_linux.cc), which describes
// how the Windows facts are made from it.
DevicePlatform& SystemDevicePlatform();

}  // namespace halvorn

#endif  // HALVORN_DEVICE_DEVICE_PLATFORM_H_
