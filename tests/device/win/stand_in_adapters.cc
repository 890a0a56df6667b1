#include "device/win/stand_in_adapters.h"

#include <cstdint>
#include <span>

#include "auth/successful_run_log.h"
#include "device/win/adapters_win.h"

namespace halvorn {

namespace testing {

std::vector<device_platform::AdapterRecord>& StandInAdapters() {
  static auto* const adapters = new std::vector<device_platform::AdapterRecord>{
      {"{6E1B2F2A-0C0F-4D43-9A57-5A0C3A1B7D10}", L"Intel(R) Ethernet", L"eth0", 6, 1},
      {kModemAdapterName, kModemAdapterDescription, kModemAdapterFriendlyName, 243, 2},
  };
  return *adapters;
}

}  // namespace testing

namespace device_win {

namespace {

// A size that the list "needs": what GetAdaptersAddresses would report is of no interest to
// the helper beyond allocating it.
constexpr std::uint32_t kAdapterListSize = 4096;

}  // namespace

std::uint32_t AdapterListSize(std::uint32_t /*family*/, std::uint32_t /*flags*/) {
  return kAdapterListSize;
}

OsStatus ListAdapters(std::uint32_t /*family*/,
                      std::uint32_t /*flags*/,
                      std::span<std::uint8_t> buffer,
                      std::vector<device_platform::AdapterRecord>* adapters) {
  if (buffer.size() < kAdapterListSize) {
    return OsStatus::Of(OsOutcome::kDoesNotFit);
  }
  *adapters = testing::StandInAdapters();
  return OsStatus::Ok();
}

}  // namespace device_win

}  // namespace halvorn
