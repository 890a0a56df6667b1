#include "auth/raw_smbios.h"

#include <cstring>
#include <limits>

#include "auth/smbios.h"

namespace halvorn::smbios {
namespace {

// 32-bit entry point: "_SM_" at 0, major version at 6, minor at 7, BCD revision at 0x1E.
constexpr std::size_t kEps32MinSize = 0x1F;
// 64-bit entry point: "_SM3_" at 0, major at 7, minor at 8, docrev at 9.
constexpr std::size_t kEps64MinSize = 0x18;

bool StartsWith(std::span<const std::uint8_t> bytes, const char* anchor) {
  const std::size_t n = std::strlen(anchor);
  return bytes.size() >= n && std::memcmp(bytes.data(), anchor, n) == 0;
}

}  // namespace

std::vector<std::uint8_t> AssembleRawSmbiosData(std::span<const std::uint8_t> entry_point,
                                                std::span<const std::uint8_t> table) {
  if (table.empty() || table.size() > std::numeric_limits<std::uint32_t>::max() - kRawHeaderSize) {
    return {};
  }
  std::vector<std::uint8_t> raw(kRawHeaderSize + table.size());
  raw[0] = 0;  // Used20CallingMethod: the table is not reached through the 2.0 interface
  if (entry_point.size() >= kEps64MinSize && StartsWith(entry_point, "_SM3_")) {
    raw[1] = entry_point[7];
    raw[2] = entry_point[8];
    raw[3] = entry_point[9];
  } else if (entry_point.size() >= kEps32MinSize && StartsWith(entry_point, "_SM_")) {
    raw[1] = entry_point[6];
    raw[2] = entry_point[7];
    raw[3] = entry_point[0x1E];
  }
  const auto length = static_cast<std::uint32_t>(table.size());
  raw[4] = static_cast<std::uint8_t>(length);
  raw[5] = static_cast<std::uint8_t>(length >> 8);
  raw[6] = static_cast<std::uint8_t>(length >> 16);
  raw[7] = static_cast<std::uint8_t>(length >> 24);
  std::memcpy(raw.data() + kRawHeaderSize, table.data(), table.size());
  return raw;
}

}  // namespace halvorn::smbios
