#include "auth/systeminfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "auth/fake_firmware.h"
#include "auth/smbios_builder.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using testing::Bytes;
using testing::Concat;
using ::testing::ElementsAre;
using testing::FakeFirmware;
using testing::LogCapture;
using testing::Oem;
using testing::Raw;

class SysteminfoTest : public ::testing::Test {
 protected:
  FakeFirmware firmware_;
};

void ExpectAllEmpty(const Systeminfo& info) {
  EXPECT_EQ(info.family, "");
  EXPECT_EQ(info.manufacturer, "");
  EXPECT_EQ(info.productName, "");
  EXPECT_EQ(info.serialNumber, "");
  EXPECT_EQ(info.skuNumber, "");
  EXPECT_EQ(info.uuid, "");
  EXPECT_EQ(info.version, "");
}

TEST_F(SysteminfoTest, ConstructorFillsTheSevenFields) {
  firmware_.raw = Raw(testing::SystemInformation(27, "ThinkPad Z13 Gen 1", "ThinkPad Z13"));
  Systeminfo info(firmware_);
  EXPECT_EQ(info.family, "ThinkPad Z13");
  EXPECT_EQ(info.manufacturer, "Maker");
  EXPECT_EQ(info.productName, "Product");
  EXPECT_EQ(info.serialNumber, "SN-1");
  EXPECT_EQ(info.skuNumber, "SKU-1");
  EXPECT_EQ(info.uuid, "00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_EQ(info.version, "ThinkPad Z13 Gen 1");
  EXPECT_EQ(firmware_.calls, 2);  // the size, then the data
}

TEST_F(SysteminfoTest, UnreadableTablesLeaveEveryFieldEmptyAndLogNothing) {
  const Bytes good = Raw(testing::SystemInformation(27));
  struct Case {
    const char* name;
    Bytes raw;
    std::optional<std::uint32_t> short_write;
  };
  const Case cases[] = {
      {"size 0", {}, std::nullopt},
      {"short read", good, static_cast<std::uint32_t>(good.size() - 1)},
      {"nothing written", good, 0u},
      {"header cut", Bytes(good.begin(), good.begin() + 7), std::nullopt},
      {"no system information", Raw(testing::EndOfTable()), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFirmware firmware;
    firmware.raw = c.raw;
    firmware.short_write = c.short_write;
    LogCapture capture;
    Systeminfo info(firmware);
    ExpectAllEmpty(info);
    EXPECT_THAT(capture.Lines(), ::testing::IsEmpty());
  }
}

TEST_F(SysteminfoTest, LengthBeyondTheDeliveredBytesIsCut) {
  firmware_.raw = Raw(testing::SystemInformation(27, "VersaPro"), 0xFFFFFFF0);
  Systeminfo info(firmware_);
  EXPECT_EQ(info.version, "VersaPro");
}

TEST_F(SysteminfoTest, FccModeLogsSizesRunAndConfirmation) {
  firmware_.raw = Raw(Concat({testing::SystemInformation(27), Oem(1, "KHOIHGIUCCHHII")}));
  LogCapture capture;
  Systeminfo info(firmware_);
  EXPECT_TRUE(info.isFccMode());
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   smBiosDataSize:110, bytesWritten:110 smBiosData->Length:102 \n",
                          "T i :   szoembuf string_buf:\x01KHOIHGIUCCHHII, length:15 \n",
                          "T i :   Authentica  TRUE"));
}

TEST_F(SysteminfoTest, FccModeReadsTheTablesAgainAndIgnoresTheFields) {
  firmware_.raw = Raw(testing::SystemInformation(27));
  Systeminfo info(firmware_);
  firmware_.raw = Raw(Oem(1, "KHOIHGIUCCHHII"));
  EXPECT_TRUE(info.isFccMode());
  EXPECT_EQ(info.version, "ThinkPad X13 Gen 3");
}

TEST_F(SysteminfoTest, FccModeWithoutType133LogsOnlyTheSizeLine) {
  firmware_.raw = Raw(testing::SystemInformation(27));
  LogCapture capture;
  EXPECT_FALSE(Systeminfo(firmware_).isFccMode());
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T i :   smBiosDataSize:89, bytesWritten:89 smBiosData->Length:81 \n"));
}

TEST_F(SysteminfoTest, FccModeOnUnreadableTablesIsFalse) {
  const Bytes marked = Raw(Oem(1, "KHOIHGIUCCHHII"));
  struct Case {
    const char* name;
    Bytes raw;
    std::optional<std::uint32_t> short_write;
    const char* line;
  };
  const Case cases[] = {
      {"size 0", {}, std::nullopt, "smBiosDataSize:0, bytesWritten:0 smBiosData->Length:0 \n"},
      // The marker is in the bytes written, but a short read is never walked.
      {"short read", marked, static_cast<std::uint32_t>(marked.size() - 1),
       "smBiosDataSize:29, bytesWritten:28 smBiosData->Length:21 \n"},
      {"header cut", Bytes(marked.begin(), marked.begin() + 6), std::nullopt,
       "smBiosDataSize:6, bytesWritten:6 smBiosData->Length:0 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFirmware firmware;
    firmware.raw = c.raw;
    firmware.short_write = c.short_write;
    LogCapture capture;
    EXPECT_FALSE(Systeminfo(firmware).isFccMode());
    EXPECT_THAT(capture.Lines(), ElementsAre(std::string("T i :   ") + c.line));
  }
}

}  // namespace
}  // namespace halvorn
