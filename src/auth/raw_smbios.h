// Assembles raw SMBIOS data in the RawSMBIOSData layout (see smbios.h) from the two files
// through which Linux publishes the firmware's tables: the entry point structure
// (/sys/firmware/dmi/tables/smbios_entry_point) and the structure table
// (/sys/firmware/dmi/tables/DMI).

#ifndef HALVORN_AUTH_RAW_SMBIOS_H_
#define HALVORN_AUTH_RAW_SMBIOS_H_

#include <cstdint>
#include <span>
#include <vector>

namespace halvorn::smbios {

// The version bytes of the header come from a 32-bit ("_SM_", 31 bytes or more) or 64-bit
// ("_SM3_", 24 bytes or more) entry point; an entry point that is missing, too short or of
// another kind leaves them 0, since only the table itself is walked. `Length` is the size of
// `table`. Empty when there is no table or it is too large for a 32-bit length.
std::vector<std::uint8_t> AssembleRawSmbiosData(std::span<const std::uint8_t> entry_point,
                                                std::span<const std::uint8_t> table);

}  // namespace halvorn::smbios

#endif  // HALVORN_AUTH_RAW_SMBIOS_H_
