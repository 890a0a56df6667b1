// Fuzzes the walk of the Systeminfo constructor over raw SMBIOS data (header and table)
// as GetSystemFirmwareTable delivers it. The input is exactly the bytes delivered, so any
// read past them is reported by AddressSanitizer.

#include <cstddef>
#include <cstdint>
#include <span>

#include "auth/smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> raw(data, size);
  halvorn::smbios::SystemInformation info;
  if (halvorn::smbios::ReadSystemInformation(halvorn::smbios::StructureTable(raw), &info)) {
    // The strings come from inside the table.
    if (info.version.size() > size || info.family.size() > size || info.uuid.size() != 36) {
      __builtin_trap();
    }
  }
  return 0;
}
