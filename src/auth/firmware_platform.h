// The firmware-table operation that the authorisation checks need, per build. Raw bytes
// only: the walks over them live in smbios.h.

#ifndef HALVORN_AUTH_FIRMWARE_PLATFORM_H_
#define HALVORN_AUTH_FIRMWARE_PLATFORM_H_

#include <cstdint>

namespace halvorn::firmware_platform {

// The raw SMBIOS data in the RawSMBIOSData layout, with the contract of
// GetSystemFirmwareTable('RSMB', 0, buffer, size): when `buffer` is null or `size` is too
// small, nothing is written and the size needed is returned; otherwise the data is
// written and the number of bytes written is returned. 0 when the data is unavailable.
// Windows: the 'RSMB' firmware table provider. Linux: /sys/firmware/dmi/tables/DMI behind
// the header assembled from /sys/firmware/dmi/tables/smbios_entry_point.
std::uint32_t GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size);

}  // namespace halvorn::firmware_platform

#endif  // HALVORN_AUTH_FIRMWARE_PLATFORM_H_
