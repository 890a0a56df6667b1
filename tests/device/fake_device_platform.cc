#include "device/fake_device_platform.h"

#include <algorithm>
#include <cstring>

namespace halvorn::testing {

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

namespace {

using device_platform::DeviceProperty;

class FakeList : public device_platform::DeviceList {
 public:
  explicit FakeList(FakeDevicePlatform& fake) : fake_(fake) { ++fake_.lists_open; }
  ~FakeList() override { --fake_.lists_open; }

  OsStatus SelectDevice(std::uint32_t index) override {
    if (index >= fake_.devices.size()) {
      selected_ = -1;
      return OsStatus::Of(OsOutcome::kNoMoreItems);
    }
    selected_ = static_cast<int>(index);
    return OsStatus::Ok();
  }

  bool ReadProperty(DeviceProperty property, std::span<std::uint8_t> buffer) override {
    if (selected_ < 0) {
      return false;
    }
    const FakeDevice& d = fake_.devices[static_cast<std::size_t>(selected_)];
    const std::optional<Bytes>* value = nullptr;
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
  FakeDevicePlatform& fake_;
  int selected_ = -1;
};

class FakeKey : public device_platform::RegistryKey {
 public:
  FakeKey(FakeDevicePlatform& fake, const FakeDriverKey* driver) : fake_(fake), driver_(driver) {
    ++fake_.keys_open;
  }
  ~FakeKey() override { --fake_.keys_open; }

  OsStatus EnumSubKey(std::uint32_t index, char* name, std::uint32_t* name_size) override {
    if (driver_ != nullptr || index >= fake_.driver_keys.size()) {
      return OsStatus::Of(OsOutcome::kNoMoreItems);
    }
    if (fake_.enum_error_at && index == *fake_.enum_error_at) {
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    }
    const std::string& key = fake_.driver_keys[index].name;
    if (key.size() + 1 > *name_size) {
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    }
    std::memcpy(name, key.c_str(), key.size() + 1);
    *name_size = static_cast<std::uint32_t>(key.size());
    return OsStatus::Ok();
  }

  OsStatus OpenSubKey(const char* name, std::unique_ptr<RegistryKey>* key) override {
    for (const FakeDriverKey& d : fake_.driver_keys) {
      if (driver_ == nullptr && d.name == name) {
        if (!d.opens) {
          return OsStatus::Of(OsOutcome::kAccessDenied);
        }
        *key = std::make_unique<FakeKey>(fake_, &d);
        return OsStatus::Ok();
      }
    }
    return OsStatus::Of(OsOutcome::kNotFound);
  }

  OsStatus QueryValue(const char* name, std::uint8_t* data, std::uint32_t* size) override {
    if (driver_ == nullptr) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    fake_.queried.push_back(driver_->name + "/" + name);
    const std::optional<Bytes>* value = nullptr;
    if (std::string(name) == "NetCfgInstanceId") {
      value = &driver_->net_cfg_instance_id;
    } else if (std::string(name) == "DeviceInstanceID") {
      value = &driver_->device_instance_id;
    }
    if (value == nullptr || !value->has_value()) {
      return OsStatus::Of(OsOutcome::kNotFound);
    }
    const auto needed = static_cast<std::uint32_t>((*value)->size());
    if (needed > *size) {
      *size = needed;
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    }
    std::copy((*value)->begin(), (*value)->end(), data);
    *size = needed;
    return OsStatus::Ok();
  }

 private:
  FakeDevicePlatform& fake_;
  const FakeDriverKey* driver_;  // null for the class key
};

}  // namespace

OsStatus FakeDevicePlatform::GetPresentDevices(std::unique_ptr<device_platform::DeviceList>* list) {
  if (list_fails) {
    return list_error;
  }
  ++lists_created;
  *list = std::make_unique<FakeList>(*this);
  return OsStatus::Ok();
}

std::uint32_t FakeDevicePlatform::GetAdapterListSize(std::uint32_t family, std::uint32_t flags) {
  size_requests.insert(size_requests.end(), {family, flags});
  return adapter_list_size;
}

OsStatus FakeDevicePlatform::GetAdapterList(std::uint32_t family,
                                            std::uint32_t flags,
                                            std::span<std::uint8_t> buffer,
                                            std::vector<device_platform::AdapterRecord>* out) {
  list_requests.insert(list_requests.end(),
                       {family, flags, static_cast<std::uint32_t>(buffer.size())});
  if (!adapter_status.ok()) {
    return adapter_status;
  }
  *out = adapters;
  return OsStatus::Ok();
}

std::unique_ptr<device_platform::RegistryKey> FakeDevicePlatform::OpenNetClassKey() {
  if (!class_key_opens) {
    return nullptr;
  }
  return std::make_unique<FakeKey>(*this, nullptr);
}

}  // namespace halvorn::testing
