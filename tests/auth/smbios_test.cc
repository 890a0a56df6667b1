#include "auth/smbios.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "auth/smbios_builder.h"
#include "support/log_capture.h"

namespace halvorn::smbios {
namespace {

using testing::Bytes;
using testing::Concat;
using ::testing::ElementsAre;
using testing::EndOfTable;
using ::testing::IsEmpty;
using testing::LogCapture;
using testing::Oem;
using testing::Raw;
using testing::Structure;

// Raw SMBIOS data as a laptop of the platform table hands it over, one field per line.
const Bytes kGoldenRaw = {
    // RawSMBIOSData header
    0x00,                    // Used20CallingMethod
    0x03,                    // SMBIOSMajorVersion
    0x04,                    // SMBIOSMinorVersion
    0x00,                    // DmiRevision
    0xA7, 0x00, 0x00, 0x00,  // Length: 167 bytes of structure table follow

    // BIOS Information (type 0), 41 bytes
    0x00,                                                 // type 0
    0x12,                                                 // formatted length 18
    0x00, 0x00,                                           // handle 0x0000
    0x01,                                                 // vendor: string 1
    0x02,                                                 // BIOS version: string 2
    0x00, 0xE8,                                           // BIOS starting address segment 0xE800
    0x03,                                                 // release date: string 3
    0x00,                                                 // ROM size
    0x80, 0, 0, 0, 0, 0, 0, 0,                            // characteristics
    'V', 'e', 'n', 'd', 'o', 'r', 0,                      // string 1
    '1', '.', '0', 0,                                     // string 2
    '0', '1', '/', '0', '1', '/', '2', '0', '2', '3', 0,  // string 3
    0,                                                    // end of the string set

    // System Information (type 1), 99 bytes
    0x01,                                            // type 1
    0x1B,                                            // formatted length 27 (SMBIOS 2.4 and later)
    0x01, 0x00,                                      // handle 0x0001
    0x01,                                            // 0x04 manufacturer: string 1
    0x02,                                            // 0x05 product name: string 2
    0x03,                                            // 0x06 version: string 3
    0x04,                                            // 0x07 serial number: string 4
    0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,  // 0x08 UUID bytes 0-7
    0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF,  //      UUID bytes 8-15
    0x06,                                            // 0x18 wake-up type: power switch
    0x05,                                            // 0x19 SKU number: string 5
    0x06,                                            // 0x1A family: string 6
    'M', 'a', 'k', 'e', 'r', ' ', 'I', 'n', 'c', 0,  // string 1
    '2', '1', 'A', 'W', 'S', '0', 'T', 'E', '0', '0', 0,  // string 2
    'T', 'h', 'i', 'n', 'k', 'P', 'a', 'd', ' ', 'X', '1', '3', ' ', 'G', 'e', 'n', ' ', '3',
    0,                                                              // string 3
    'P', 'F', '3', 'A', 'B', 'C', 'D', 'E', 0,                      // string 4
    'S', 'K', 'U', '_', '2', '1', 'A', 'W', 0,                      // string 5
    'T', 'h', 'i', 'n', 'k', 'P', 'a', 'd', ' ', 'X', '1', '3', 0,  // string 6
    0,                                                              // end of set

    // OEM-specific (type 133), 21 bytes: the FCC-mode marker
    0x85,        // type 133
    0x05,        // formatted length 5
    0x02, 0x00,  // handle 0x0002
    0x01,        // the one formatted data byte
    'K', 'H', 'O', 'I', 'H', 'G', 'I', 'U', 'C', 'C', 'H', 'H', 'I', 'I', 0,  // string 1
    0,                                                                        // end of set

    // End of table (type 127), 6 bytes
    0x7F,        // type 127
    0x04,        // formatted length 4
    0x03, 0x00,  // handle 0x0003
    0x00, 0x00,  // empty string set
};

SystemInformation Read(const Bytes& table) {
  SystemInformation info;
  ReadSystemInformation(table, &info);
  return info;
}

bool Fcc(const Bytes& table) {
  return HasFccModeMarker(table, FccModeMarker());
}

TEST(SmbiosGoldenTest, HeaderTableAndEveryField) {
  EXPECT_EQ(DeclaredTableLength(kGoldenRaw), 167u);
  const auto table = StructureTable(kGoldenRaw);
  ASSERT_EQ(table.size(), kGoldenRaw.size() - 8);
  EXPECT_EQ(table.data(), kGoldenRaw.data() + 8);

  SystemInformation info;
  ASSERT_TRUE(ReadSystemInformation(table, &info));
  EXPECT_EQ(info.manufacturer, "Maker Inc");
  EXPECT_EQ(info.productName, "21AWS0TE00");
  EXPECT_EQ(info.version, "ThinkPad X13 Gen 3");
  EXPECT_EQ(info.serialNumber, "PF3ABCDE");
  EXPECT_EQ(info.skuNumber, "SKU_21AW");
  EXPECT_EQ(info.family, "ThinkPad X13");
  // Stored order, no bytes swapped, upper-case hex.
  EXPECT_EQ(info.uuid, "00112233-4455-6677-8899-AABBCCDDEEFF");

  LogCapture capture;
  EXPECT_TRUE(HasFccModeMarker(table, FccModeMarker()));
  EXPECT_THAT(capture.Lines(), ElementsAre("T i :   szoembuf string_buf:\x01KHOIHGIUCCHHII, "
                                           "length:15 \n",
                                           "T i :   Authentica  TRUE"));
}

TEST(SmbiosGoldenTest, MarkerIsTheFormattedByteAndFourteenLetters) {
  const auto marker = FccModeMarker();
  EXPECT_EQ(std::string(marker.begin(), marker.end()), std::string("\x01KHOIHGIUCCHHII"));
}

// --- The constructor's walk -------------------------------------------------------------

struct SystemCase {
  const char* name;
  Bytes table;
  bool found;
  const char* version;
  const char* family;
  const char* sku;
  const char* manufacturer;
};

void PrintTo(const SystemCase& c, std::ostream* os) {
  *os << c.name;
}

class SystemInformationWalkTest : public ::testing::TestWithParam<SystemCase> {};

TEST_P(SystemInformationWalkTest, Reads) {
  const SystemCase& c = GetParam();
  SystemInformation info;
  EXPECT_EQ(ReadSystemInformation(c.table, &info), c.found);
  EXPECT_EQ(info.version, c.version);
  EXPECT_EQ(info.family, c.family);
  EXPECT_EQ(info.skuNumber, c.sku);
  EXPECT_EQ(info.manufacturer, c.manufacturer);
}

const Bytes kBios = Structure(0, {1, 0, 0, 0}, {"Vendor"});

INSTANTIATE_TEST_SUITE_P(
    Cases,
    SystemInformationWalkTest,
    ::testing::Values(
        SystemCase{"Length27FillsAllSeven", Concat({kBios, testing::SystemInformation(27)}), true,
                   "ThinkPad X13 Gen 3", "ThinkPad", "SKU-1", "Maker"},
        SystemCase{"Length25HasNoSkuOrFamily", testing::SystemInformation(25), true,
                   "ThinkPad X13 Gen 3", "", "", "Maker"},
        // Family's string number would lie at 0x1A, the first byte of the string set.
        SystemCase{"Length26ReadsSkuButNotFamilyFromTheStringSet", testing::SystemInformation(26),
                   true, "ThinkPad X13 Gen 3", "", "SKU-1", "Maker"},
        SystemCase{"Length24IsSkippedAndTheNextIsRead",
                   Concat({testing::SystemInformation(24, "short"),
                           testing::SystemInformation(27, "second")}),
                   true, "second", "ThinkPad", "SKU-1", "Maker"},
        SystemCase{"OnlyTheFirstQualifyingStructureCounts",
                   Concat({testing::SystemInformation(27, "first"),
                           testing::SystemInformation(27, "second")}),
                   true, "first", "ThinkPad", "SKU-1", "Maker"},
        SystemCase{"VersionNumberZeroGivesEmpty",
                   Structure(1, {1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0, 0, 0, 0, 0}, {"M", "P", "V", "S"}),
                   true, "", "", "", "M"},
        SystemCase{"NumberBeyondTheLastStringGivesEmpty",
                   Structure(1, {1, 2, 9, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0, 3}, {"M", "P", "Fam"}),
                   true, "", "Fam", "", "M"},
        SystemCase{"EmptyStringSet", Structure(1, Bytes(21, 1), {}), true, "", "", "", ""},
        SystemCase{"NoSystemInformation", Concat({kBios, EndOfTable()}), false, "", "", "", ""},
        SystemCase{"FormattedLengthBelowFourStopsTheWalk",
                   Concat({Bytes{0x05, 0x02, 0x00, 0x00}, testing::SystemInformation(27)}), false,
                   "", "", "", ""},
        SystemCase{"EmptyTable", Bytes{}, false, "", "", "", ""},
        SystemCase{"OneByteTable", Bytes{1}, false, "", "", "", ""},
        // Hostile tables: nothing outside the table is read.
        SystemCase{"FormattedAreaCutByTheEndOfTheTable",
                   [] {
                     Bytes cut = testing::SystemInformation(27);
                     cut.resize(20);
                     return cut;
                   }(),
                   false, "", "", "", ""},
        SystemCase{"FormattedLengthLargerThanTheTable", Bytes{0x01, 0xFF, 0x00, 0x00, 0x01}, false,
                   "", "", "", ""},
        SystemCase{"PrecedingStructureWithoutTerminatingPair",
                   Concat({Bytes{0x00, 0x04, 0x00, 0x00, 'A', 0, 'B'}}), false, "", "", "", ""},
        SystemCase{"StringRunningIntoTheEndOfTableIsEmpty",
                   [] {
                     Bytes cut = testing::SystemInformation(27, "Version", "Family");
                     cut.resize(cut.size() - 4);  // cut inside "Family", no terminator left
                     return cut;
                   }(),
                   true, "Version", "", "SKU-1", "Maker"}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(SystemInformationUuidTest, IsReadAsStored) {
  EXPECT_EQ(Read(testing::SystemInformation(25)).uuid, "00112233-4455-6677-8899-AABBCCDDEEFF");
}

TEST(RawSmbiosDataTest, LengthFieldIsCutToTheBytesDelivered) {
  const Bytes table = testing::SystemInformation(27);
  // Length claims far more than was delivered: the table is what is there.
  EXPECT_EQ(StructureTable(Raw(table, 0x7FFFFFFF)).size(), table.size());
  const Bytes lying = Raw(table, 0x7FFFFFFF);
  const auto cut = StructureTable(lying);
  EXPECT_EQ(Read(Bytes(cut.begin(), cut.end())).version, "ThinkPad X13 Gen 3");
  // Length claims less: the rest is not part of the table.
  EXPECT_EQ(StructureTable(Raw(table, 10)).size(), 10u);
  EXPECT_TRUE(StructureTable(Raw(table, 0)).empty());
  // Fewer bytes than the header: nothing at all.
  EXPECT_TRUE(StructureTable(Bytes{0, 3, 2, 0, 9, 0, 0}).empty());
  EXPECT_EQ(DeclaredTableLength(Bytes{0, 3, 2, 0, 9, 0, 0}), 0u);
  EXPECT_EQ(DeclaredTableLength(Raw({}, 0x01020304)), 0x01020304u);
}

// --- The FCC-mode walk -----------------------------------------------------------------

struct FccCase {
  const char* name;
  Bytes table;
  bool result;
  std::vector<std::string> lines;
};

void PrintTo(const FccCase& c, std::ostream* os) {
  *os << c.name;
}

class FccModeWalkTest : public ::testing::TestWithParam<FccCase> {};

TEST_P(FccModeWalkTest, Decides) {
  const FccCase& c = GetParam();
  LogCapture capture;
  EXPECT_EQ(Fcc(c.table), c.result);
  EXPECT_EQ(capture.Lines(), c.lines);
}

const std::string kLetters = "KHOIHGIUCCHHII";
std::string SzLine(const std::string& run, int length) {
  return "T i :   szoembuf string_buf:" + run + ", length:" + std::to_string(length) + " \n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    FccModeWalkTest,
    ::testing::Values(
        FccCase{"Marker",
                Concat({kBios, Oem(1, kLetters)}),
                true,
                {SzLine("\x01" + kLetters, 15), "T i :   Authentica  TRUE"}},
        FccCase{"ThirteenLettersGiveARunOf14",
                Oem(1, kLetters.substr(0, 13)),
                false,
                {SzLine("\x01" + kLetters.substr(0, 13), 14)}},
        FccCase{"FifteenLettersGiveARunOf16",
                Oem(1, kLetters + "X"),
                false,
                {SzLine("\x01" + kLetters + "X", 16)}},
        FccCase{"LastByteIsNotCompared",
                Oem(1, kLetters.substr(0, 13) + "Z"),
                true,
                {SzLine("\x01" + kLetters.substr(0, 13) + "Z", 15), "T i :   Authentica  TRUE"}},
        FccCase{"OtherFormattedByte", Oem(2, kLetters), false, {SzLine("\x02" + kLetters, 15)}},
        FccCase{"LowerCaseLetters",
                Oem(1, "khoihgiucchhii"),
                false,
                {SzLine("\x01khoihgiucchhii", 15)}},
        FccCase{"FormattedLength6EndsAtOnceEvenBeforeAMatchingOne",
                Concat({Oem(1, kLetters, 6), Oem(1, kLetters)}),
                false,
                {}},
        FccCase{"OnlyTheFirstType133Counts",
                Concat({Oem(1, "OTHER"), Oem(1, kLetters)}),
                false,
                {SzLine("\x01OTHER", 6)}},
        FccCase{"NoType133",
                Concat({kBios, testing::SystemInformation(27), EndOfTable()}),
                false,
                {}},
        // The formatted byte 0 ends the printed text but not the run.
        FccCase{"ZeroFormattedByte", Oem(0, kLetters), false, {SzLine("", 15)}},
        FccCase{"EmptyRun",
                Bytes{0x85, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00},
                false,
                {SzLine("", 0)}},
        // Unlike the constructor's walk, a formatted length below 4 does not stop this one.
        FccCase{"ShortStructureIsWalkedOver",
                Concat({Bytes{0x05, 0x02, 0x00, 0x00}, Oem(1, kLetters)}),
                true,
                {SzLine("\x01" + kLetters, 15), "T i :   Authentica  TRUE"}},
        FccCase{"ZeroFormattedLengthIsWalkedOver",
                Concat({Bytes{0x05, 0x00, 0x07, 0x00, 0x00}, Oem(1, kLetters)}),
                true,
                {SzLine("\x01" + kLetters, 15), "T i :   Authentica  TRUE"}},
        FccCase{"EmptyTable", Bytes{}, false, {}},
        // Hostile tables: nothing outside the table is read.
        FccCase{"LoneType133Byte", Bytes{0x85}, false, {}},
        FccCase{"RunWithoutTerminatingPairNeverMatches",
                Bytes{0x85, 0x05, 0x00, 0x00, 0x01, 'K', 'H', 'O', 'I', 'H', 'G', 'I', 'U', 'C',
                      'C', 'H', 'H', 'I', 'I'},
                false,
                {SzLine("\x01" + kLetters, 15)}},
        FccCase{"RunMissingOnlyItsLastZero",
                Concat({Bytes{0x85, 0x05, 0x00, 0x00, 0x01},
                        Bytes(kLetters.begin(), kLetters.end()), Bytes{0x00}}),
                false,
                {SzLine("\x01" + kLetters, 16)}},
        FccCase{"FormattedAreaCutByTheEndOfTheTable",
                Bytes{0x85, 0x05, 0x00},
                false,
                {SzLine("", 0)}},
        FccCase{"PrecedingStructureWithoutTerminatingPair",
                Concat({Bytes{0x00, 0x04, 0x00, 0x00, 'A', 0, 'B'}}),
                false,
                {}},
        FccCase{"FormattedLengthLargerThanTheTable",
                Bytes{0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},
                false,
                {}}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(FccModeLongRunTest, IsShownCutTo511BytesWithItsFullLength) {
  LogCapture capture;
  EXPECT_FALSE(Fcc(Oem(1, std::string(600, 'A'))));
  EXPECT_THAT(capture.Lines(), ElementsAre(SzLine("\x01" + std::string(510, 'A'), 601)));
}

}  // namespace
}  // namespace halvorn::smbios
