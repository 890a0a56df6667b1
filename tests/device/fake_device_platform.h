// Test support: a fake of the device-discovery operations (device_platform.h) that keeps
// their Windows contracts (buffer limits, status codes) and counts what stays open.

#ifndef HALVORN_TESTS_DEVICE_FAKE_DEVICE_PLATFORM_H_
#define HALVORN_TESTS_DEVICE_FAKE_DEVICE_PLATFORM_H_

#include <cstdint>
#include <optional>
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

struct FakeDevicePlatformState {
  // Device list.
  bool list_fails = false;
  std::uint32_t list_error = 0;
  std::vector<FakeDevice> devices;
  int lists_created = 0;
  int lists_open = 0;

  // Adapter list.
  std::uint32_t adapter_list_size = 4096;
  std::uint32_t adapter_status = 0;
  std::vector<device_platform::AdapterRecord> adapters;
  std::vector<std::uint32_t> size_requests;  // family, flags of each size request
  std::vector<std::uint32_t> list_requests;  // family, flags, buffer size of each list request

  // Network-class registry key.
  bool class_key_opens = true;
  std::vector<FakeDriverKey> driver_keys;
  std::optional<std::uint32_t> enum_error_at;  // index at which enumeration fails with 234
  int keys_open = 0;
  std::vector<std::string> queried;  // "key/value" of every value query
};

// The process-wide fake; reset it at the start of every test.
FakeDevicePlatformState& FakeDevicePlatform();
void ResetFakeDevicePlatform();

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_DEVICE_FAKE_DEVICE_PLATFORM_H_
