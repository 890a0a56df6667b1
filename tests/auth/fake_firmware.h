// Test support: a fake of the firmware-table operation (firmware_platform.h).

#ifndef HALVORN_TESTS_AUTH_FAKE_FIRMWARE_H_
#define HALVORN_TESTS_AUTH_FAKE_FIRMWARE_H_

#include <cstdint>
#include <optional>
#include <vector>

namespace halvorn::testing {

struct FakeFirmwareState {
  std::vector<std::uint8_t> raw;             // what GetRawSmbiosData delivers
  std::optional<std::uint32_t> short_write;  // deliver only this many bytes
  int calls = 0;
};

// The process-wide fake; reset it at the start of every test.
FakeFirmwareState& FakeFirmware();
void ResetFakeFirmware();

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_AUTH_FAKE_FIRMWARE_H_
