#include "auth/raw_smbios.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace halvorn::smbios {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 32-bit entry point as /sys/firmware/dmi/tables/smbios_entry_point holds it.
const Bytes kEntryPoint32 = {
    '_',  'S',  'M',  '_',        // 0x00 anchor
    0x00,                         // 0x04 checksum
    0x1F,                         // 0x05 entry point length
    0x02,                         // 0x06 major version
    0x08,                         // 0x07 minor version
    0x00, 0x01,                   // 0x08 maximum structure size
    0x00,                         // 0x0A entry point revision
    0,    0,    0,    0,    0,    // 0x0B formatted area
    '_',  'D',  'M',  'I',  '_',  // 0x10 intermediate anchor
    0x00,                         // 0x15 intermediate checksum
    0x06, 0x00,                   // 0x16 structure table length
    0x00, 0x00, 0x0F, 0x00,       // 0x18 structure table address
    0x01, 0x00,                   // 0x1C number of structures
    0x28,                         // 0x1E BCD revision
};

// A 64-bit entry point.
const Bytes kEntryPoint64 = {
    '_',  'S',  'M',  '3',  '_',           // 0x00 anchor
    0x00,                                  // 0x05 checksum
    0x18,                                  // 0x06 entry point length
    0x03,                                  // 0x07 major version
    0x04,                                  // 0x08 minor version
    0x00,                                  // 0x09 docrev
    0x01,                                  // 0x0A entry point revision
    0x00,                                  // 0x0B reserved
    0x06, 0x00, 0x00, 0x00,                // 0x0C structure table maximum size
    0,    0,    0x0F, 0,    0,   0, 0, 0,  // 0x10 structure table address
};

const Bytes kTable = {0x7F, 0x04, 0x00, 0x00, 0x00, 0x00};  // end of table only

TEST(RawSmbiosTest, HeaderFromEachKindOfEntryPoint) {
  struct Case {
    const char* name;
    Bytes entry_point;
    Bytes header;
  };
  const Case cases[] = {
      {"32-bit", kEntryPoint32, {0x00, 0x02, 0x08, 0x28, 0x06, 0x00, 0x00, 0x00}},
      {"64-bit", kEntryPoint64, {0x00, 0x03, 0x04, 0x00, 0x06, 0x00, 0x00, 0x00}},
      {"missing", {}, {0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00}},
      {"32-bit cut short",
       Bytes(kEntryPoint32.begin(), kEntryPoint32.end() - 1),
       {0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00}},
      {"64-bit cut short",
       Bytes(kEntryPoint64.begin(), kEntryPoint64.end() - 1),
       {0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00}},
      {"unknown anchor", Bytes(32, 'x'), {0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes raw = AssembleRawSmbiosData(c.entry_point, kTable);
    ASSERT_EQ(raw.size(), 8 + kTable.size());
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8), c.header);
    EXPECT_EQ(Bytes(raw.begin() + 8, raw.end()), kTable);
  }
}

TEST(RawSmbiosTest, LengthIsTheTableSizeLittleEndian) {
  const Bytes table(0x10203, 0);
  const Bytes raw = AssembleRawSmbiosData(kEntryPoint64, table);
  EXPECT_EQ(Bytes(raw.begin() + 4, raw.begin() + 8), (Bytes{0x03, 0x02, 0x01, 0x00}));
}

TEST(RawSmbiosTest, NoTableGivesNothing) {
  EXPECT_TRUE(AssembleRawSmbiosData(kEntryPoint32, {}).empty());
}

}  // namespace
}  // namespace halvorn::smbios
