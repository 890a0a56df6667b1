#include "auth/fake_firmware.h"

#include <algorithm>
#include <cstring>

namespace halvorn::testing {

std::uint32_t FakeFirmware::GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size) {
  ++calls;
  const auto needed = static_cast<std::uint32_t>(raw.size());
  if (buffer == nullptr || size < needed) {
    return needed;
  }
  const std::uint32_t n = std::min(needed, short_write.value_or(needed));
  if (n != 0) {
    std::memcpy(buffer, raw.data(), n);
  }
  return n;
}

}  // namespace halvorn::testing
