// Fuzzes the device helper's reading of hardware ids and instance ids, and the platform
// verification's parse of the hardware id it finds, over the fake device platform of the tests.
//
// The input is a list of records, each a 2-byte little-endian length and that many bytes. The
// first record is the DeviceInstanceID value of the driver key that names the mobile-broadband
// adapter (registry bytes as RegQueryValueExA delivers them); every further record is one
// present device: one flag byte (bit 0: no description, bit 1: no power data, bit 2: no
// hardware ids) and its hardware id property (a REG_MULTI_SZ of UTF-16LE as SetupAPI delivers
// it). A record cut short by the end of the input keeps what is there.
//
// Besides the sanitizers' findings it checks the helper's contract: a device is reported only
// with an id of at most 127 characters that carries the vendor id and a product id, the output
// is untouched otherwise, the found flag is written only on success, every device list and
// registry key is closed again, and the modem id parsed from a reported id is 8 characters.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "auth/platform_verification.h"
#include "device/device_helper.h"
#include "device/fake_device_platform.h"

namespace {

using halvorn::CDeviceHelper;
using halvorn::testing::Bytes;

constexpr std::size_t kMaxDevices = 16;
constexpr const char* kAdapterName = "{2F1A7C6E-93B4-4D2A-8E11-5B0C9A7D3E42}";

class Records {
 public:
  explicit Records(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool done() const { return pos_ >= bytes_.size(); }
  Bytes Next() {
    std::size_t length = Byte();
    length |= static_cast<std::size_t>(Byte()) << 8;
    const std::size_t take = std::min(length, bytes_.size() - pos_);
    Bytes out(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
              bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + take));
    pos_ += take;
    return out;
  }

 private:
  std::uint8_t Byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

bool HasProductId(std::string_view text) {
  std::string_view list = CDeviceHelper::kProductIdList;
  for (;;) {
    const std::size_t sep = list.find(';');
    if (text.find(list.substr(0, sep)) != std::string_view::npos) {
      return true;
    }
    if (sep == std::string_view::npos) {
      return false;
    }
    list.remove_prefix(sep + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  halvorn::testing::FakeDevicePlatform fake;
  Records records({data, size});

  halvorn::device_platform::AdapterRecord adapter;
  adapter.adapter_name = kAdapterName;
  adapter.if_type = 243;
  adapter.oper_status = 1;
  fake.adapters = {adapter};
  halvorn::testing::FakeDriverKey key;
  key.name = "0001";
  key.net_cfg_instance_id = halvorn::testing::RegSz(kAdapterName);
  key.device_instance_id = records.Next();
  fake.driver_keys = {key};

  while (!records.done() && fake.devices.size() < kMaxDevices) {
    Bytes record = records.Next();
    const std::uint8_t flags = record.empty() ? 0 : record.front();
    if (!record.empty()) {
      record.erase(record.begin());
    }
    halvorn::testing::FakeDevice device;
    if ((flags & 1) != 0) {
      device.description.reset();
    }
    if ((flags & 2) != 0) {
      device.power_data.reset();
    }
    if ((flags & 4) == 0) {
      device.hardware_ids = std::move(record);
    }
    fake.devices.push_back(std::move(device));
  }

  const std::string untouched = "untouched";
  std::string hwid = untouched;
  const int rc = CDeviceHelper::GetTessaryHwid(fake, hwid);
  if (rc == 0) {
    if (hwid.size() > CDeviceHelper::kMaxIdLength ||
        hwid.find(CDeviceHelper::kVendorPattern) == std::string::npos || !HasProductId(hwid)) {
      std::abort();  // reported a device that is not the vendor's modem
    }
    std::string modem_id = untouched;
    if (halvorn::parseDeviceHwid(hwid, modem_id) ? modem_id.size() != 8 : modem_id != untouched) {
      std::abort();  // a modem id that is not vendor id and product id, or written on failure
    }
  } else if (rc != 3 || hwid != untouched) {
    std::abort();  // a failure that is not 3, or that wrote the output
  }

  std::uint8_t found = 0x5A;
  const bool vendors = CDeviceHelper::IsTessaryMBIMDevcieExist(fake, found);
  if (vendors ? found != 1 : found != 0x5A) {
    std::abort();  // the found flag disagrees with the result
  }
  if (fake.lists_open != 0 || fake.keys_open != 0) {
    std::abort();  // a device list or registry key left open
  }
  return 0;
}
