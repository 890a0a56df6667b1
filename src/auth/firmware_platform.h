// The firmware-table operation that the authorisation checks need: one FirmwarePlatform per
// build, the system's reached through SystemFirmwarePlatform(). Raw bytes only: the walks over
// them live in smbios.h.

#ifndef HALVORN_AUTH_FIRMWARE_PLATFORM_H_
#define HALVORN_AUTH_FIRMWARE_PLATFORM_H_

#include <cstdint>

namespace halvorn {

class FirmwarePlatform {
 public:
  virtual ~FirmwarePlatform() = default;

  // The raw SMBIOS data in the RawSMBIOSData layout, with the contract of
  // GetSystemFirmwareTable('RSMB', 0, buffer, size): when `buffer` is null or `size` is too
  // small, nothing is written and the size needed is returned; otherwise the data is
  // written and the number of bytes written is returned. 0 when the data is unavailable.
  virtual std::uint32_t GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size) = 0;
};

// The firmware of this process's system. Windows (win/firmware_win.cc): the 'RSMB' firmware
// table provider. Linux (linux/firmware_linux.cc): /sys/firmware/dmi/tables/DMI behind the
// header assembled from /sys/firmware/dmi/tables/smbios_entry_point.
FirmwarePlatform& SystemFirmwarePlatform();

}  // namespace halvorn

#endif  // HALVORN_AUTH_FIRMWARE_PLATFORM_H_
