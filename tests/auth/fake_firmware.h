// Test support: a fake firmware (firmware_platform.h) that keeps the contract of
// GetSystemFirmwareTable and counts its calls.

#ifndef HALVORN_TESTS_AUTH_FAKE_FIRMWARE_H_
#define HALVORN_TESTS_AUTH_FAKE_FIRMWARE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "auth/firmware_platform.h"

namespace halvorn::testing {

class FakeFirmware final : public FirmwarePlatform {
 public:
  // The size needed when the buffer is missing or too small, otherwise the bytes written.
  std::uint32_t GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size) override;

  std::vector<std::uint8_t> raw;             // what GetRawSmbiosData delivers
  std::optional<std::uint32_t> short_write;  // deliver only this many bytes
  int calls = 0;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_AUTH_FAKE_FIRMWARE_H_
