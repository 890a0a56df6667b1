// Test support: a fake device platform (device_platform.h) that keeps the contracts of the
// Windows operations (buffer limits, statuses) and counts what stays open.

#ifndef HALVORN_TESTS_DEVICE_FAKE_DEVICE_PLATFORM_H_
#define HALVORN_TESTS_DEVICE_FAKE_DEVICE_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device_platform.h"

namespace halvorn::testing {

using Bytes = std::vector<std::uint8_t>;

// UTF-16LE of ASCII text with its terminating zero unit.
Bytes Utf16(const std::string& text);
// A REG_MULTI_SZ of ASCII strings.
Bytes MultiSz(const std::vector<std::string>& strings);
// Registry string data: the text and its terminating zero.
Bytes RegSz(const std::string& text);

struct FakeDevice {
  std::optional<Bytes> description = Utf16("USB Composite Device");
  std::optional<Bytes> power_data = Bytes(56, 0);
  std::optional<Bytes> hardware_ids;
};

struct FakeDriverKey {
  std::string name;
  bool opens = true;
  std::optional<Bytes> net_cfg_instance_id;
  std::optional<Bytes> device_instance_id;
};

// The lists and keys it hands out refer to it: it must outlive them.
class FakeDevicePlatform final : public DevicePlatform {
 public:
  OsStatus GetPresentDevices(std::unique_ptr<device_platform::DeviceList>* list) override;
  std::uint32_t GetAdapterListSize(std::uint32_t family, std::uint32_t flags) override;
  OsStatus GetAdapterList(std::uint32_t family,
                          std::uint32_t flags,
                          std::span<std::uint8_t> buffer,
                          std::vector<device_platform::AdapterRecord>* adapters) override;
  std::unique_ptr<device_platform::RegistryKey> OpenNetClassKey() override;

  // Device list.
  bool list_fails = false;
  OsStatus list_error;  // the failure when list_fails
  std::vector<FakeDevice> devices;
  int lists_created = 0;
  int lists_open = 0;

  // Adapter list.
  std::uint32_t adapter_list_size = 4096;
  OsStatus adapter_status;  // a failure here fails every list request
  std::vector<device_platform::AdapterRecord> adapters;
  std::vector<std::uint32_t> size_requests;  // family, flags of each size request
  std::vector<std::uint32_t> list_requests;  // family, flags, buffer size of each list request

  // Network-class registry key.
  bool class_key_opens = true;
  std::vector<FakeDriverKey> driver_keys;
  std::optional<std::uint32_t> enum_error_at;  // index at which enumeration fails (kDoesNotFit)
  int keys_open = 0;
  std::vector<std::string> queried;  // "key/value" of every value query
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_DEVICE_FAKE_DEVICE_PLATFORM_H_
