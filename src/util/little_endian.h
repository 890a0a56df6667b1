// Little-endian integers in byte buffers: SMBIOS tables, MBIM messages, event-log records and
// UTF-16LE text all store them this way, whatever the byte order of the machine reading them.

#ifndef HALVORN_UTIL_LITTLE_ENDIAN_H_
#define HALVORN_UTIL_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvorn {

// The 16-bit value stored at `bytes`[0..1]; the caller guarantees two bytes.
constexpr std::uint16_t LoadLe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// The 32-bit value stored at `bytes`[0..3]; the caller guarantees four bytes.
constexpr std::uint32_t LoadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The values at offset `at` of `bytes`, which must hold them (checked by span's bounds in
// debug builds of the standard library only, like any index).
inline std::uint16_t LoadLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadLe16(bytes.subspan(at, 2).data());
}
inline std::uint32_t LoadLe32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadLe32(bytes.subspan(at, 4).data());
}

}  // namespace halvorn

#endif  // HALVORN_UTIL_LITTLE_ENDIAN_H_
