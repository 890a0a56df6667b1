// The operating-system operations that device discovery needs, per build. They return raw
// data (property bytes, adapter records, registry value bytes) and status codes; the
// matching, limits and messages live in device_helper.cc.
//
// Status codes are Windows system error codes on both builds, so that the messages read
// the same: 0 success, 2 not found, 8 out of memory, 111 buffer overflow, 122 insufficient
// buffer, 234 more data, 259 no more items.

#ifndef HALVORN_DEVICE_DEVICE_PLATFORM_H_
#define HALVORN_DEVICE_DEVICE_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace halvorn::device_platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorBufferOverflow = 111;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;

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
  // Selects the device at `index` (SetupDiEnumDeviceInfo). False after the last device,
  // with the reason in *error (259 after the last one).
  virtual bool SelectDevice(std::uint32_t index, std::uint32_t* error) = 0;
  // Reads a property of the selected device into `buffer` (SetupDiGetDeviceRegistryPropertyW
  // without type or required size). False when the device lacks it or it does not fit.
  virtual bool ReadProperty(DeviceProperty property, std::span<std::uint8_t> buffer) = 0;
};

// All present devices of every class, in the order the system lists them; null on failure
// with the reason in *error.
std::unique_ptr<DeviceList> GetPresentDevices(std::uint32_t* error);

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

// The number of bytes that GetAdaptersAddresses needs for `family` and `flags` (the call
// with no buffer).
std::uint32_t GetAdapterListSize(std::uint32_t family, std::uint32_t flags);

// GetAdaptersAddresses into `buffer`: returns 0 and the adapters in list order, or a
// status code (111 when the list does not fit the buffer).
std::uint32_t GetAdapterList(std::uint32_t family,
                             std::uint32_t flags,
                             std::span<std::uint8_t> buffer,
                             std::vector<AdapterRecord>* adapters);

// An open registry key; closed when destroyed. Narrow names and values (the "A" API).
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegEnumKeyExA: on entry *name_size is the capacity of `name` in characters, the
  // terminating zero included; on success the name is written with its zero and
  // *name_size is its length without it. 259 after the last subkey, 234 when the name
  // does not fit.
  virtual std::uint32_t EnumSubKey(std::uint32_t index, char* name, std::uint32_t* name_size) = 0;
  // RegOpenKeyExA with KEY_READ.
  virtual std::uint32_t OpenSubKey(const char* name, std::unique_ptr<RegistryKey>* key) = 0;
  // RegQueryValueExA: on entry *size is the capacity of `data`; on success *size is the
  // number of bytes written (a string's terminating zero included when stored). 2 when
  // there is no such value, 234 when it does not fit.
  virtual std::uint32_t QueryValue(const char* name, std::uint8_t* data, std::uint32_t* size) = 0;
};

// The registry key of the network adapter class ({4D36E972-E325-11CE-BFC1-08002BE10318},
// SetupDiOpenClassRegKeyExW with KEY_READ and DIOCR_INSTALLER), whose subkeys are the
// adapters' driver keys with the values "NetCfgInstanceId" and "DeviceInstanceID". Null
// when it cannot be opened.
std::unique_ptr<RegistryKey> OpenNetClassKey();

}  // namespace halvorn::device_platform

#endif  // HALVORN_DEVICE_DEVICE_PLATFORM_H_
