// The Windows firmware backend under Wine, run by with_fake_dmi.sh with the files of
// dmi_id/ as the machine's /sys/class/dmi/id, from which Wine builds its SMBIOS table.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "auth/firmware_platform.h"
#include "auth/platform_verification.h"
#include "auth/smbios.h"
#include "auth/systeminfo.h"
#include "device/device_platform.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using testing::LogCapture;

TEST(FirmwareWinTest, SysteminfoReadsTheFirmwareStrings) {
  Systeminfo info(SystemFirmwarePlatform());
  EXPECT_EQ(info.manufacturer, "Maker Inc");
  EXPECT_EQ(info.productName, "21AWS0TE00");
  EXPECT_EQ(info.version, "ThinkPad X13 Gen 3");
  EXPECT_EQ(info.serialNumber, "PF3ABCDE");
  EXPECT_EQ(info.skuNumber, "SKU_21AW");
  EXPECT_EQ(info.family, "ThinkPad X13");
  EXPECT_TRUE(std::regex_match(
      info.uuid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << info.uuid;
}

TEST(FirmwareWinTest, RawDataKeepsTheFirmwareTableContract) {
  const std::uint32_t size = SystemFirmwarePlatform().GetRawSmbiosData(nullptr, 0);
  ASSERT_GT(size, smbios::kRawHeaderSize);
  std::vector<std::uint8_t> raw(size);
  EXPECT_EQ(SystemFirmwarePlatform().GetRawSmbiosData(raw.data(), size - 1), size);  // too small
  ASSERT_EQ(SystemFirmwarePlatform().GetRawSmbiosData(raw.data(), size), size);
  EXPECT_EQ(smbios::DeclaredTableLength(raw), size - smbios::kRawHeaderSize);
}

TEST(FirmwareWinTest, FirmwareWithoutTheOemStructureIsNotInFccMode) {
  const std::uint32_t size = SystemFirmwarePlatform().GetRawSmbiosData(nullptr, 0);
  LogCapture capture;
  EXPECT_FALSE(Systeminfo(SystemFirmwarePlatform()).isFccMode());
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   smBiosDataSize:" + std::to_string(size) +
                          ", bytesWritten:" + std::to_string(size) +
                          " smBiosData->Length:" + std::to_string(size - 8) + " \n"));
}

TEST(FirmwareWinTest, VerifyPlatformTakesTheModelFromTheFirmware) {
  LogCapture capture;
  VerifyPlatform(SystemFirmwarePlatform(), SystemDevicePlatform());
  const auto lines = capture.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "T i :   SMBIOS system version = ThinkPad X13 Gen 3");
  EXPECT_NE(lines[2], "T i :   not in platform list. VerifyPlatform return = true ");
}

}  // namespace
}  // namespace halvorn
