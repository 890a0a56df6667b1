#include "auth/smbios.h"

#include <algorithm>
#include <cstring>

#include "util/little_endian.h"
#include "util/log_helper.h"
#include "util/printf_format.h"

namespace halvorn::smbios {
namespace {

constexpr const char* kFccTag = "Systeminfo::isFccMode";

// Offsets inside the System Information structure.
constexpr std::size_t kManufacturerOffset = 4;
constexpr std::size_t kProductNameOffset = 5;
constexpr std::size_t kVersionOffset = 6;
constexpr std::size_t kSerialNumberOffset = 7;
constexpr std::size_t kUuidOffset = 8;
constexpr std::size_t kSkuNumberOffset = 0x19;
constexpr std::size_t kFamilyOffset = 0x1A;
constexpr std::size_t kMinSystemInformationLength = 25;  // SMBIOS 2.1: up to Wake-up Type
constexpr std::size_t kMinStructureLength = 4;           // the header alone

// The offset of the OEM structure's formatted byte, and the only formatted length that
// can carry the marker (header plus that one byte).
constexpr std::size_t kFccRunOffset = 4;
constexpr std::size_t kFccStructureLength = 5;
constexpr std::size_t kFccComparedBytes = 14;
constexpr std::size_t kRunBufferSize = 512;

// Position of the first pair of zero bytes at or after `from`, or `table.size()` when the
// table ends before such a pair.
std::size_t FindZeroPair(std::span<const std::uint8_t> table, std::size_t from) {
  for (std::size_t i = from; i + 1 < table.size(); ++i) {
    if (table[i] == 0 && table[i + 1] == 0) {
      return i;
    }
  }
  return table.size();
}

// Where the structure after the one at `pos` begins, given its formatted length; or
// `table.size()` when the string set of this one does not end inside the table.
std::size_t NextStructure(std::span<const std::uint8_t> table,
                          std::size_t pos,
                          std::size_t length) {
  const std::size_t pair = FindZeroPair(table, pos + length);
  return pair >= table.size() ? table.size() : pair + 2;
}

// String number `number` (1-based) of the string set that begins at `set`. The number 0,
// an empty set, a number past the last string, and a string that is not terminated inside
// the table all give the empty string.
std::string StringAt(std::span<const std::uint8_t> table, std::size_t set, std::uint8_t number) {
  if (number == 0) {
    return {};
  }
  std::size_t pos = set;
  for (unsigned index = 1;; ++index) {
    if (pos >= table.size() || table[pos] == 0) {
      return {};  // end of the set (or of the table) before string `number`
    }
    const std::uint8_t* begin = table.data() + pos;
    const std::uint8_t* end = std::find(begin, table.data() + table.size(), std::uint8_t{0});
    if (end == table.data() + table.size()) {
      return {};
    }
    if (index == number) {
      return std::string(reinterpret_cast<const char*>(begin),
                         static_cast<std::size_t>(end - begin));
    }
    pos += static_cast<std::size_t>(end - begin) + 1;
  }
}

}  // namespace

std::uint32_t DeclaredTableLength(std::span<const std::uint8_t> raw) {
  if (raw.size() < kRawHeaderSize) {
    return 0;
  }
  return LoadLe32(raw, 4);
}

std::span<const std::uint8_t> StructureTable(std::span<const std::uint8_t> raw) {
  if (raw.size() < kRawHeaderSize) {
    return {};
  }
  const std::size_t available = raw.size() - kRawHeaderSize;
  const std::size_t length = std::min<std::size_t>(DeclaredTableLength(raw), available);
  return raw.subspan(kRawHeaderSize, length);
}

bool ReadSystemInformation(std::span<const std::uint8_t> table, SystemInformation* out) {
  std::size_t pos = 0;
  while (pos + 1 < table.size()) {
    const std::uint8_t type = table[pos];
    const std::size_t length = table[pos + 1];
    if (length < kMinStructureLength || length > table.size() - pos) {
      return false;
    }
    if (type == kTypeSystemInformation && length >= kMinSystemInformationLength) {
      const std::span<const std::uint8_t> s = table.subspan(pos, length);
      const std::size_t set = pos + length;
      out->manufacturer = StringAt(table, set, s[kManufacturerOffset]);
      out->productName = StringAt(table, set, s[kProductNameOffset]);
      out->serialNumber = StringAt(table, set, s[kSerialNumberOffset]);
      out->version = StringAt(table, set, s[kVersionOffset]);
      const std::span<const std::uint8_t> u = s.subspan(kUuidOffset, 16);
      out->uuid = StrPrintf("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                            u[0], u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10],
                            u[11], u[12], u[13], u[14], u[15]);
      // SKU Number and Family came with SMBIOS 2.4; each is read only when its offset lies
      // inside the formatted area, never from the string set behind it.
      if (length > kSkuNumberOffset) {
        out->skuNumber = StringAt(table, set, s[kSkuNumberOffset]);
      }
      if (length > kFamilyOffset) {
        out->family = StringAt(table, set, s[kFamilyOffset]);
      }
      return true;
    }
    pos = NextStructure(table, pos, length);
  }
  return false;
}

std::array<std::uint8_t, kFccModeMarkerSize> FccModeMarker() {
  std::array<std::uint8_t, kFccModeMarkerSize> marker{};
  marker[0] = 0x01;
  const char letters[] = {'K', 'H', 'O', 'I', 'H', 'G', 'I', 'U', 'C', 'C', 'H', 'H', 'I', 'I'};
  static_assert(sizeof letters == kFccModeMarkerSize - 1);
  std::memcpy(marker.data() + 1, letters, sizeof letters);
  return marker;
}

bool HasFccModeMarker(std::span<const std::uint8_t> table,
                      std::span<const std::uint8_t, kFccModeMarkerSize> marker) {
  std::size_t pos = 0;
  while (pos < table.size()) {
    if (pos + 1 >= table.size()) {
      return false;  // a lone type byte: the formatted length is missing
    }
    const std::size_t length = table[pos + 1];
    if (table[pos] == kTypeFccMode) {
      if (length != kFccStructureLength) {
        return false;
      }
      // The run: from the formatted byte up to the first pair of zero bytes.
      const std::size_t begin = pos + kFccRunOffset;
      const std::size_t pair = FindZeroPair(table, begin);
      const bool terminated = pair < table.size();
      const std::size_t run_length =
          (terminated ? pair : table.size()) - std::min(begin, table.size());
      char buffer[kRunBufferSize] = {};
      if (run_length > 0) {
        std::memcpy(buffer, table.data() + begin, std::min(run_length, kRunBufferSize - 1));
      }
      LogHelper::Print(LogInfo, kFccTag, "szoembuf string_buf:%s, length:%d \n",
                       static_cast<const char*>(buffer), static_cast<std::int32_t>(run_length));
      if (terminated && run_length == kFccModeMarkerSize &&
          std::memcmp(table.data() + begin, marker.data(), kFccComparedBytes) == 0) {
        LogHelper::Print(LogInfo, kFccTag, "Authentica  TRUE");
        return true;
      }
      return false;
    }
    if (length > table.size() - pos) {
      return false;
    }
    pos = NextStructure(table, pos, length);
  }
  return false;
}

}  // namespace halvorn::smbios
