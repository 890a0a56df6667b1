#include "device/fake_device_platform.h"

#include <algorithm>
#include <cstring>

namespace halvorn {
namespace testing {

Bytes Utf16(const std::string& text) {
  Bytes out;
  for (char c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(0);
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

Bytes MultiSz(const std::vector<std::string>& strings) {
  Bytes out;
  for (const std::string& s : strings) {
    const Bytes one = Utf16(s);
    out.insert(out.end(), one.begin(), one.end());
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

Bytes RegSz(const std::string& text) {
  Bytes out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

FakeDevicePlatformState& FakeDevicePlatform() {
  static FakeDevicePlatformState state;
  return state;
}

void ResetFakeDevicePlatform() {
  FakeDevicePlatform() = FakeDevicePlatformState();
}

}  // namespace testing

namespace device_platform {
namespace {

using testing::FakeDevicePlatform;

class FakeList : public DeviceList {
 public:
  FakeList() { ++FakeDevicePlatform().lists_open; }
  ~FakeList() override { --FakeDevicePlatform().lists_open; }

  bool SelectDevice(std::uint32_t index, std::uint32_t* error) override {
    if (index >= FakeDevicePlatform().devices.size()) {
      *error = kErrorNoMoreItems;
      selected_ = -1;
      return false;
    }
    selected_ = static_cast<int>(index);
    return true;
  }

  bool ReadProperty(DeviceProperty property, std::span<std::uint8_t> buffer) override {
    if (selected_ < 0) {
      return false;
    }
    const testing::FakeDevice& d =
        FakeDevicePlatform().devices[static_cast<std::size_t>(selected_)];
    const std::optional<testing::Bytes>* value = nullptr;
    switch (property) {
      case DeviceProperty::kDeviceDesc:
        value = &d.description;
        break;
      case DeviceProperty::kHardwareId:
        value = &d.hardware_ids;
        break;
      case DeviceProperty::kDevicePowerData:
        value = &d.power_data;
        break;
    }
    if (value == nullptr || !value->has_value() || (*value)->size() > buffer.size()) {
      return false;  // missing, or ERROR_INSUFFICIENT_BUFFER
    }
    std::copy((*value)->begin(), (*value)->end(), buffer.begin());
    return true;
  }

 private:
  int selected_ = -1;
};

class FakeKey : public RegistryKey {
 public:
  explicit FakeKey(const testing::FakeDriverKey* driver) : driver_(driver) {
    ++FakeDevicePlatform().keys_open;
  }
  ~FakeKey() override { --FakeDevicePlatform().keys_open; }

  std::uint32_t EnumSubKey(std::uint32_t index, char* name, std::uint32_t* name_size) override {
    auto& fake = FakeDevicePlatform();
    if (driver_ != nullptr || index >= fake.driver_keys.size()) {
      return kErrorNoMoreItems;
    }
    if (fake.enum_error_at && index == *fake.enum_error_at) {
      return kErrorMoreData;
    }
    const std::string& key = fake.driver_keys[index].name;
    if (key.size() + 1 > *name_size) {
      return kErrorMoreData;
    }
    std::memcpy(name, key.c_str(), key.size() + 1);
    *name_size = static_cast<std::uint32_t>(key.size());
    return kErrorSuccess;
  }

  std::uint32_t OpenSubKey(const char* name, std::unique_ptr<RegistryKey>* key) override {
    for (const testing::FakeDriverKey& d : FakeDevicePlatform().driver_keys) {
      if (driver_ == nullptr && d.name == name) {
        if (!d.opens) {
          return 5;  // ERROR_ACCESS_DENIED
        }
        *key = std::make_unique<FakeKey>(&d);
        return kErrorSuccess;
      }
    }
    return kErrorFileNotFound;
  }

  std::uint32_t QueryValue(const char* name, std::uint8_t* data, std::uint32_t* size) override {
    if (driver_ == nullptr) {
      return kErrorFileNotFound;
    }
    FakeDevicePlatform().queried.push_back(driver_->name + "/" + name);
    const std::optional<testing::Bytes>* value = nullptr;
    if (std::string(name) == "NetCfgInstanceId") {
      value = &driver_->net_cfg_instance_id;
    } else if (std::string(name) == "DeviceInstanceID") {
      value = &driver_->device_instance_id;
    }
    if (value == nullptr || !value->has_value()) {
      return kErrorFileNotFound;
    }
    const auto needed = static_cast<std::uint32_t>((*value)->size());
    if (needed > *size) {
      *size = needed;
      return kErrorMoreData;
    }
    std::copy((*value)->begin(), (*value)->end(), data);
    *size = needed;
    return kErrorSuccess;
  }

 private:
  const testing::FakeDriverKey* driver_;  // null for the class key
};

}  // namespace

std::unique_ptr<DeviceList> GetPresentDevices(std::uint32_t* error) {
  auto& fake = FakeDevicePlatform();
  if (fake.list_fails) {
    *error = fake.list_error;
    return nullptr;
  }
  ++fake.lists_created;
  return std::make_unique<FakeList>();
}

std::uint32_t GetAdapterListSize(std::uint32_t family, std::uint32_t flags) {
  auto& fake = FakeDevicePlatform();
  fake.size_requests.insert(fake.size_requests.end(), {family, flags});
  return fake.adapter_list_size;
}

std::uint32_t GetAdapterList(std::uint32_t family,
                             std::uint32_t flags,
                             std::span<std::uint8_t> buffer,
                             std::vector<AdapterRecord>* adapters) {
  auto& fake = FakeDevicePlatform();
  fake.list_requests.insert(fake.list_requests.end(),
                            {family, flags, static_cast<std::uint32_t>(buffer.size())});
  if (fake.adapter_status != kErrorSuccess) {
    return fake.adapter_status;
  }
  *adapters = fake.adapters;
  return kErrorSuccess;
}

std::unique_ptr<RegistryKey> OpenNetClassKey() {
  if (!FakeDevicePlatform().class_key_opens) {
    return nullptr;
  }
  return std::make_unique<FakeKey>(nullptr);
}

}  // namespace device_platform
}  // namespace halvorn
