#include "auth/fake_firmware.h"

#include <algorithm>
#include <cstring>

#include "auth/firmware_platform.h"

namespace halvorn {
namespace testing {

FakeFirmwareState& FakeFirmware() {
  static FakeFirmwareState state;
  return state;
}

void ResetFakeFirmware() {
  FakeFirmware() = FakeFirmwareState();
}

}  // namespace testing

namespace firmware_platform {

// Keeps the contract of GetSystemFirmwareTable: the size needed when the buffer is missing
// or too small, otherwise the bytes written.
std::uint32_t GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size) {
  testing::FakeFirmwareState& fake = testing::FakeFirmware();
  ++fake.calls;
  const auto needed = static_cast<std::uint32_t>(fake.raw.size());
  if (buffer == nullptr || size < needed) {
    return needed;
  }
  const std::uint32_t n = std::min(needed, fake.short_write.value_or(needed));
  if (n != 0) {
    std::memcpy(buffer, fake.raw.data(), n);
  }
  return n;
}

}  // namespace firmware_platform
}  // namespace halvorn
