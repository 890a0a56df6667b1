// Test support: builds SMBIOS structures and raw SMBIOS data byte by byte.

#ifndef HALVORN_TESTS_AUTH_SMBIOS_BUILDER_H_
#define HALVORN_TESTS_AUTH_SMBIOS_BUILDER_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace halvorn::testing {

using Bytes = std::vector<std::uint8_t>;

// One structure: type, formatted length (4 + body), handle, `body`, then the string set
// (each string and its zero, then one more zero; an empty set is the pair of zeros).
inline Bytes Structure(std::uint8_t type,
                       const Bytes& body,
                       std::initializer_list<std::string> strings,
                       std::uint16_t handle = 0) {
  Bytes out = {type, static_cast<std::uint8_t>(4 + body.size()),
               static_cast<std::uint8_t>(handle & 0xFF), static_cast<std::uint8_t>(handle >> 8)};
  out.insert(out.end(), body.begin(), body.end());
  for (const std::string& s : strings) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  }
  if (strings.size() == 0) {
    out.push_back(0);
  }
  out.push_back(0);
  return out;
}

// A System Information structure of formatted length `length` (at least 8) with the
// strings "Maker", "Product", `version`, "SN-1", "SKU-1" and `family`, numbered in that
// order; an empty `version` or `family` has no string and the number 0. The UUID bytes are
// 0x00, 0x11, ... 0xFF.
inline Bytes SystemInformation(std::uint8_t length,
                               const std::string& version = "ThinkPad X13 Gen 3",
                               const std::string& family = "ThinkPad") {
  std::vector<std::string> strings;
  auto number = [&strings](const std::string& s) -> std::uint8_t {
    if (s.empty()) {
      return 0;
    }
    strings.push_back(s);
    return static_cast<std::uint8_t>(strings.size());
  };
  Bytes body = {number("Maker"), number("Product"), number(version), number("SN-1")};
  for (int i = 0; i < 16; ++i) {
    body.push_back(static_cast<std::uint8_t>(0x11 * i));  // UUID
  }
  body.push_back(0x06);  // wake-up type: power switch
  body.push_back(number("SKU-1"));
  body.push_back(number(family));
  body.resize(static_cast<std::size_t>(length) - 4);
  Bytes out = Structure(1, body, {});
  out.resize(out.size() - 2);  // replace the empty string set
  for (const std::string& s : strings) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  }
  if (strings.empty()) {
    out.push_back(0);
  }
  out.push_back(0);
  return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

// Raw SMBIOS data: version 3.2 header with `Length` set to `declared_length` (the table's
// size unless given), then the table.
inline Bytes Raw(const Bytes& table, std::int64_t declared_length = -1) {
  const auto length =
      static_cast<std::uint32_t>(declared_length < 0 ? table.size() : declared_length);
  Bytes out = {0,
               3,
               2,
               0,
               static_cast<std::uint8_t>(length),
               static_cast<std::uint8_t>(length >> 8),
               static_cast<std::uint8_t>(length >> 16),
               static_cast<std::uint8_t>(length >> 24)};
  out.insert(out.end(), table.begin(), table.end());
  return out;
}

// An OEM structure of type 133 with formatted length `length`: its first formatted byte
// (when it has one) and one string.
inline Bytes Oem(std::uint8_t formatted_byte, const std::string& text, std::uint8_t length = 5) {
  Bytes body(static_cast<std::size_t>(length) - 4, 0);
  if (!body.empty()) {
    body[0] = formatted_byte;
  }
  return Structure(133, body, {text});
}

// The end-of-table structure (type 127).
inline Bytes EndOfTable() {
  return Structure(127, {}, {});
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_AUTH_SMBIOS_BUILDER_H_
