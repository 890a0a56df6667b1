// Raw SMBIOS data on Windows: the 'RSMB' firmware table provider.

#include <windows.h>

#include "auth/firmware_platform.h"

namespace halvorn {
namespace {

class WinFirmware final : public FirmwarePlatform {
 public:
  std::uint32_t GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size) override {
    constexpr DWORD kProviderRsmb = 0x52534D42;  // 'RSMB'
    return ::GetSystemFirmwareTable(kProviderRsmb, 0, buffer, buffer == nullptr ? 0 : size);
  }
};

}  // namespace

FirmwarePlatform& SystemFirmwarePlatform() {
  static WinFirmware firmware;
  return firmware;
}

}  // namespace halvorn
