// Fuzzes the FCC-mode walk of isFccMode over raw SMBIOS data (header and table) as
// GetSystemFirmwareTable delivers it. The input is exactly the bytes delivered, so any
// read past them is reported by AddressSanitizer.

#include <cstddef>
#include <cstdint>
#include <span>

#include "auth/smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> raw(data, size);
  halvorn::smbios::HasFccModeMarker(halvorn::smbios::StructureTable(raw),
                                    halvorn::smbios::FccModeMarker());
  return 0;
}
