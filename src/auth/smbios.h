// Walks over the raw SMBIOS data that the firmware hands to the operating system, in the
// RawSMBIOSData layout:
//
//   offset 0  Used20CallingMethod   (1 byte)
//   offset 1  SMBIOSMajorVersion    (1 byte)
//   offset 2  SMBIOSMinorVersion    (1 byte)
//   offset 3  DmiRevision           (1 byte)
//   offset 4  Length                (32-bit little-endian: bytes of the structure table)
//   offset 8  the structure table
//
// Each structure: byte 0 its type, byte 1 the length of its formatted area (header
// included), bytes 2-3 its handle; then its string set, zero-terminated strings ended by
// one more zero byte (an empty set is just the pair of zeros).
//
// Every function here reads only inside the span it is given, whatever the bytes hold: a
// `Length` larger than the bytes delivered is cut to them, and a structure or string that
// runs past the end of the table ends the walk instead of being read beyond it.

#ifndef HALVORN_AUTH_SMBIOS_H_
#define HALVORN_AUTH_SMBIOS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace halvorn::smbios {

inline constexpr std::size_t kRawHeaderSize = 8;
inline constexpr std::uint8_t kTypeSystemInformation = 1;
inline constexpr std::uint8_t kTypeFccMode = 133;
inline constexpr std::size_t kFccModeMarkerSize = 15;

// The strings that the System Information structure (type 1) provides.
struct SystemInformation {
  std::string family;
  std::string manufacturer;
  std::string productName;
  std::string serialNumber;
  std::string skuNumber;
  std::string uuid;
  std::string version;
};

// The `Length` field of raw SMBIOS data; 0 when fewer than 8 bytes were delivered.
std::uint32_t DeclaredTableLength(std::span<const std::uint8_t> raw);

// The structure table of raw SMBIOS data: `Length` bytes from offset 8, cut to the bytes
// delivered. Empty when the header itself is incomplete.
std::span<const std::uint8_t> StructureTable(std::span<const std::uint8_t> raw);

// Walks `table` from its first structure to the first System Information structure with a
// formatted area of at least 25 bytes and reads its strings into `out` (fields it does not
// carry stay empty). The walk ends without a result at a structure whose formatted length
// is below 4 or that does not fit in the table. Returns true when the structure was found.
bool ReadSystemInformation(std::span<const std::uint8_t> table, SystemInformation* out);

// The FCC-mode marker: the single formatted byte of the OEM structure (type 133) followed
// by its first string. Built anew by each call, so that the bytes never stand as one
// constant in the program image.
std::array<std::uint8_t, kFccModeMarkerSize> FccModeMarker();

// Walks `table` to the first type-133 structure and tells whether it carries `marker`: a
// formatted length of 5 and a run of exactly 15 bytes (the formatted byte and the first
// string, up to the first pair of zero bytes) whose first 14 bytes equal the marker's.
// Later type-133 structures are not looked at. Logs the run of a length-5 structure and,
// on a match, the confirmation line, under the tag "Systeminfo::isFccMode". A run whose
// terminating pair of zeros is not inside the table never matches.
bool HasFccModeMarker(std::span<const std::uint8_t> table,
                      std::span<const std::uint8_t, kFccModeMarkerSize> marker);

}  // namespace halvorn::smbios

#endif  // HALVORN_AUTH_SMBIOS_H_
