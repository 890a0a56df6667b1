#include "device/device_helper.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "device/device_platform.h"
#include "util/little_endian.h"
#include "util/log_helper.h"
#include "util/os_status.h"
#include "util/platform.h"
#include "util/utf16le.h"

namespace halvorn {
namespace {

namespace dp = device_platform;

constexpr const char* kHwidTag = "CDeviceHelper::GetTessaryHwid";
constexpr const char* kMbimTag = "CDeviceHelper::IsTessaryMBIMDevcieExist";

constexpr int kNotFound = 3;
constexpr std::uint32_t kIfTypeWwanPp = 243;
constexpr std::size_t kPropertyBufferSize = 1024;
constexpr std::size_t kPowerDataSize = 56;  // one CM_POWER_DATA
constexpr std::size_t kRegistryBufferSize = 256;

std::vector<std::string_view> ProductIds() {
  std::vector<std::string_view> ids;
  std::string_view list = CDeviceHelper::kProductIdList;
  for (;;) {
    const std::size_t sep = list.find(';');
    ids.push_back(list.substr(0, sep));
    if (sep == std::string_view::npos) {
      return ids;
    }
    list.remove_prefix(sep + 1);
  }
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool ContainsProductId(std::string_view text) {
  for (std::string_view id : ProductIds()) {
    if (Contains(text, id)) {
      return true;
    }
  }
  return false;
}

// The first string of a REG_MULTI_SZ of UTF-16LE units, converted with the system code
// page. Empty when the buffer holds no terminated first string.
std::string FirstMultiSzString(std::span<const std::uint8_t> bytes) {
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    if (LoadLe16(bytes.data() + 2 * i) == 0) {
      return platform::WideToNarrow(WideFromUtf16Le(bytes.first(2 * i)));
    }
  }
  return {};
}

// Registry string data: the bytes up to the first zero inside the `size` bytes delivered.
std::string RegistryText(const std::uint8_t* data, std::uint32_t size) {
  const std::size_t n = std::min<std::size_t>(size, kRegistryBufferSize);
  const auto* begin = reinterpret_cast<const char*>(data);
  return std::string(begin, std::find(begin, begin + n, '\0'));
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

// Follows the network-class driver keys to the DeviceInstanceID of the one whose
// NetCfgInstanceId contains `adapter_name`. Sets *found_key when such a key's instance id
// was read; the id is upper-cased.
std::string FindInstanceId(DevicePlatform& devices,
                           const std::string& adapter_name,
                           bool* found_key) {
  std::unique_ptr<dp::RegistryKey> class_key = devices.OpenNetClassKey();
  if (!class_key) {
    return {};
  }
  for (std::uint32_t index = 0;; ++index) {
    std::array<char, kRegistryBufferSize> name{};
    auto name_size = static_cast<std::uint32_t>(name.size());
    if (!class_key->EnumSubKey(index, name.data(), &name_size).ok()) {
      return {};
    }
    name.back() = '\0';
    std::unique_ptr<dp::RegistryKey> sub_key;
    if (!class_key->OpenSubKey(name.data(), &sub_key).ok() || !sub_key) {
      continue;
    }
    std::array<std::uint8_t, kRegistryBufferSize> data{};
    auto size = static_cast<std::uint32_t>(data.size());
    if (!sub_key->QueryValue("NetCfgInstanceId", data.data(), &size).ok() ||
        !Contains(RegistryText(data.data(), size), adapter_name)) {
      continue;
    }
    data.fill(0);
    size = static_cast<std::uint32_t>(data.size());
    if (!sub_key->QueryValue("DeviceInstanceID", data.data(), &size).ok()) {
      continue;
    }
    std::string instance_id = RegistryText(data.data(), size);
    if (instance_id.size() > CDeviceHelper::kMaxIdLength) {
      continue;
    }
    *found_key = true;
    return AsciiUpper(std::move(instance_id));
  }
}

}  // namespace

int CDeviceHelper::GetTessaryHwid(DevicePlatform& devices, std::string& hwid) {
  const TraceScope trace(kHwidTag);
  std::unique_ptr<dp::DeviceList> list;
  const OsStatus listed = devices.GetPresentDevices(&list);
  if (!listed.ok() || !list) {
    LogHelper::Print(LogInfo, kHwidTag, "SetupDiGetClassDevs error code 0x%08x",
                     WindowsErrorCode(listed));
    return kNotFound;
  }
  std::vector<std::uint8_t> buffer(kPropertyBufferSize);
  std::array<std::uint8_t, kPowerDataSize> power{};
  for (std::uint32_t index = 0;; ++index) {
    const OsStatus selected = list->SelectDevice(index);
    if (!selected.ok()) {
      LogHelper::Print(LogInfo, kHwidTag, "SetupDiEnumDeviceInfo return : %d ,error code: 0x%08x",
                       0, WindowsErrorCode(selected));
      return kNotFound;
    }
    // A device without a description or power data is never considered.
    if (!list->ReadProperty(dp::DeviceProperty::kDeviceDesc, buffer) ||
        !list->ReadProperty(dp::DeviceProperty::kDevicePowerData, power)) {
      continue;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    if (!list->ReadProperty(dp::DeviceProperty::kHardwareId, buffer)) {
      continue;
    }
    const std::string first_id = FirstMultiSzString(buffer);
    if (first_id.size() > kMaxIdLength) {
      continue;
    }
    if (Contains(first_id, kVendorPattern) && ContainsProductId(first_id)) {
      hwid = first_id;
      LogHelper::Print(LogInfo, kHwidTag, "find device : %s", hwid);
      return 0;
    }
  }
}

bool CDeviceHelper::IsTessaryMBIMDevcieExist(DevicePlatform& devices, std::uint8_t& found) {
  const TraceScope trace(kMbimTag);
  const std::uint32_t size = devices.GetAdapterListSize(dp::kAfUnspec, 0);
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[size]);
  if (!buffer) {
    LogHelper::Print(LogError, kMbimTag, "GetAdaptersAddresses AF_UNSPEC failed");
    return false;
  }
  std::string adapter_name;
  std::vector<dp::AdapterRecord> adapters;
  if (devices
          .GetAdapterList(dp::kAfInet, dp::kGaaFlagSkipMulticast, {buffer.get(), size}, &adapters)
          .ok()) {
    for (const dp::AdapterRecord& adapter : adapters) {
      if (adapter.if_type != kIfTypeWwanPp) {
        continue;
      }
      LogHelper::Print(LogInfo, kMbimTag,
                       "Adapters Info: adapter name = %s, adapter desc = %ws, friend name=%ws",
                       adapter.adapter_name, adapter.description, adapter.friendly_name);
      // The status is only reported: an adapter that is down is taken all the same.
      LogHelper::Print(LogInfo, kMbimTag,
                       "mbim oper status = %d (1 IfOperStatusUp ; 2 IfOperStatusDown ; 3 "
                       "IfOperStatusTesting ; 4 IfOperStatusUnknown ; 5 IfOperStatusDormant ; 6 "
                       "IfOperStatusNotPresent ;7 IfOperStatusLowerLayerDown)",
                       adapter.oper_status);
      if (adapter.adapter_name.size() <= kMaxAdapterNameLength) {
        adapter_name = adapter.adapter_name;
      }
      break;
    }
  }
  buffer.reset();
  if (adapter_name.empty()) {
    LogHelper::Print(LogInfo, kMbimTag, "not get adapter,return ");
    return false;
  }

  bool found_key = false;
  const std::string instance_id = FindInstanceId(devices, adapter_name, &found_key);
  if (found_key) {
    LogHelper::Print(LogInfo, kMbimTag, "Get Instance Id %s", instance_id);
  }
  if (instance_id.empty()) {
    LogHelper::Print(LogInfo, kMbimTag, "not get hardware id,return");
    return false;
  }
  if (!Contains(instance_id, kVendorPattern)) {
    LogHelper::Print(LogInfo, kMbimTag, "not find mbim vid (%s),return", kVendorPattern);
    return false;
  }
  for (std::string_view id : ProductIds()) {
    if (Contains(instance_id, id)) {
      LogHelper::Print(LogInfo, kMbimTag, "find MBIM device : %s", instance_id);
      found = 1;
      LogHelper::Print(LogInfo, kMbimTag, "IsTessaryMBIMDevcieExist %s %s %s ", kVendorPattern,
                       kProductIdList, found == 1 ? "find" : "not find");
      return true;
    }
  }
  LogHelper::Print(LogInfo, kMbimTag, "not find mbim pid (%s),return", kProductIdList);
  return false;
}

}  // namespace halvorn
