// The adapter list of the test build of halvorn.exe (halvorn_stand_in_adapters.exe). Wine has
// no mobile-broadband adapter and no way to make one, so this build replaces the IP Helper
// adapter list (src/device/win/adapters_win.cc) with a fixed one: an Ethernet adapter and the
// vendor modem's interface, matching the SetupAPI device and driver key that the tests create.
// Everything else in that build is halvorn.exe's own code.

#include <cstdint>
#include <span>
#include <vector>

#include "auth/successful_run_log.h"
#include "device/device_platform.h"

namespace halvorn::device_platform {

namespace {

constexpr std::uint32_t kAdapterListSize = 4096;

}  // namespace

std::uint32_t GetAdapterListSize(std::uint32_t /*family*/, std::uint32_t /*flags*/) {
  return kAdapterListSize;
}

std::uint32_t GetAdapterList(std::uint32_t /*family*/,
                             std::uint32_t /*flags*/,
                             std::span<std::uint8_t> buffer,
                             std::vector<AdapterRecord>* adapters) {
  if (buffer.size() < kAdapterListSize) {
    return kErrorBufferOverflow;
  }
  *adapters = {
      {"{6E1B2F2A-0C0F-4D43-9A57-5A0C3A1B7D10}", L"Intel(R) Ethernet", L"eth0", 6, 1},
      {testing::kModemAdapterName, testing::kModemAdapterDescription,
       testing::kModemAdapterFriendlyName, 243, 2},
  };
  return kErrorSuccess;
}

}  // namespace halvorn::device_platform
