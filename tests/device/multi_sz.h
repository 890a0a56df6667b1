// Test support: reads the property bytes that the device backends deliver.

#ifndef HALVORN_TESTS_DEVICE_MULTI_SZ_H_
#define HALVORN_TESTS_DEVICE_MULTI_SZ_H_

#include <cstdint>
#include <string>
#include <vector>

namespace halvorn::testing {

// The strings of a REG_MULTI_SZ (or the one string of a REG_SZ) of UTF-16LE ASCII text, up to
// the empty string that ends the list.
inline std::vector<std::string> MultiSzStrings(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::string> out;
  std::string current;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = bytes[i] | bytes[i + 1] << 8;
    if (unit == 0) {
      if (current.empty()) {
        break;
      }
      out.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(unit));
    }
  }
  return out;
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_DEVICE_MULTI_SZ_H_
