// The Linux firmware backend against a umockdev test bed (its /sys/firmware/dmi/tables),
// and platform verification on top of both Linux backends. Runs under in_testbed.sh.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "auth/firmware_platform.h"
#include "auth/platform_verification.h"
#include "auth/smbios_builder.h"
#include "auth/systeminfo.h"
#include "device/device_platform.h"
#include "device/linux/testbed.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using testing::Bytes;
using testing::Concat;
using ::testing::ElementsAre;
using testing::LogCapture;
using testing::Testbed;

constexpr const char* kTablePath = "firmware/dmi/tables/DMI";
constexpr const char* kEntryPointPath = "firmware/dmi/tables/smbios_entry_point";

// A 64-bit entry point for an SMBIOS 3.3 table of `length` bytes.
Bytes EntryPoint64(std::uint32_t length) {
  return {'_',
          'S',
          'M',
          '3',
          '_',   // anchor
          0x00,  // checksum
          0x18,  // entry point length
          0x03,
          0x03,
          0x00,  // version 3.3, docrev 0
          0x01,
          0x00,  // entry point revision, reserved
          static_cast<std::uint8_t>(length),
          static_cast<std::uint8_t>(length >> 8),
          0x00,
          0x00,  // structure table maximum size
          0x00,
          0x10,
          0x0F,
          0x00,
          0x00,
          0x00,
          0x00,
          0x00};  // structure table address
}

class FirmwareLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Testbed::Preloaded())
        << "run this program through tests/device/linux/in_testbed.sh (umockdev-wrapper)";
  }
  void SetFirmware(const Bytes& table) {
    bed_.WriteSysFile(kEntryPointPath, EntryPoint64(static_cast<std::uint32_t>(table.size())));
    bed_.WriteSysFile(kTablePath, table);
  }
  Testbed bed_;
};

TEST_F(FirmwareLinuxTest, RawDataIsTheHeaderAndTheTable) {
  const Bytes table = Concat({testing::SystemInformation(27), testing::EndOfTable()});
  SetFirmware(table);
  const std::uint32_t size = SystemFirmwarePlatform().GetRawSmbiosData(nullptr, 0);
  ASSERT_EQ(size, 8 + table.size());
  Bytes raw(size);
  EXPECT_EQ(SystemFirmwarePlatform().GetRawSmbiosData(raw.data(), size - 1), size);  // too small
  EXPECT_EQ(SystemFirmwarePlatform().GetRawSmbiosData(raw.data(), size), size);
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8),
            (Bytes{0x00, 0x03, 0x03, 0x00, static_cast<std::uint8_t>(table.size()), 0, 0, 0}));
  EXPECT_EQ(Bytes(raw.begin() + 8, raw.end()), table);
}

TEST_F(FirmwareLinuxTest, SysteminfoAndFccModeFromTheTestBed) {
  SetFirmware(Concat({testing::SystemInformation(27, "ThinkPad T14 Gen 3", "ThinkPad T14"),
                      testing::Oem(1, "KHOIHGIUCCHHII"), testing::EndOfTable()}));
  Systeminfo info(SystemFirmwarePlatform());
  EXPECT_EQ(info.version, "ThinkPad T14 Gen 3");
  EXPECT_EQ(info.family, "ThinkPad T14");
  EXPECT_EQ(info.uuid, "00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_TRUE(info.isFccMode());
}

TEST_F(FirmwareLinuxTest, NoTablesMeansEmptyFieldsAndNoFccMode) {
  EXPECT_EQ(SystemFirmwarePlatform().GetRawSmbiosData(nullptr, 0), 0u);
  Systeminfo info(SystemFirmwarePlatform());
  EXPECT_EQ(info.version, "");
  LogCapture capture;
  EXPECT_FALSE(info.isFccMode());
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   smBiosDataSize:0, bytesWritten:0 smBiosData->Length:0 \n"));
}

TEST_F(FirmwareLinuxTest, TableWithoutEntryPointStillReads) {
  bed_.WriteSysFile(kTablePath, testing::SystemInformation(27, "VersaPro"));
  EXPECT_EQ(Systeminfo(SystemFirmwarePlatform()).version, "VersaPro");
}

TEST(VerifyPlatformLinuxTest, OnBothLinuxBackends) {
  ASSERT_TRUE(Testbed::Preloaded());
  struct Case {
    const char* model;
    const char* pid;
    bool result;
  };
  const Case cases[] = {
      {"ThinkPad X13 Gen 3", "0b41", true},
      {"ThinkPad X13 Gen 3", "0b47", false},
      {"Some Other Laptop", "0b47", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + c.pid);
    Testbed bed;
    bed.WriteSysFile(kTablePath, testing::SystemInformation(27, c.model));
    bed.AddUsbModem(bed.AddUsbHost(), "2-3", "7a3f", c.pid, "wwan0", 3);
    EXPECT_EQ(VerifyPlatform(SystemFirmwarePlatform(), SystemDevicePlatform()), c.result);
  }
}

}  // namespace
}  // namespace halvorn
