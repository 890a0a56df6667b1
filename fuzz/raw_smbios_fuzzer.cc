// Fuzzes the assembly of raw SMBIOS data from the two Linux files: the first input byte
// says how many of the following bytes are the entry point, the rest is the table.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "auth/raw_smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t split = data[0] < size - 1 ? data[0] : size - 1;
  const std::span<const std::uint8_t> entry_point(data + 1, split);
  const std::span<const std::uint8_t> table(data + 1 + split, size - 1 - split);
  const auto raw = halvorn::smbios::AssembleRawSmbiosData(entry_point, table);
  if (!table.empty() && (raw.size() != table.size() + 8 ||
                         std::memcmp(raw.data() + 8, table.data(), table.size()) != 0)) {
    __builtin_trap();
  }
  return 0;
}
