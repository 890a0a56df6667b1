#include "auth/platform_verification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/fake_firmware.h"
#include "auth/smbios_builder.h"
#include "device/fake_device_platform.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using testing::FakeDevicePlatform;
using testing::FakeFirmware;
using testing::LogCapture;

// The 26 models, in table order, as the firmware reports them.
const char* const kModels[] = {
    "ThinkPad X13 Gen 3",       "VersaPro",
    "ThinkPad X13 Gen 3a",      "ThinkPad T14s Gen 3",
    "ThinkPad T14s Gen 3a",     "ThinkPad T14 Gen 3",
    "ThinkPad P14s Gen 3",      "ThinkPad T14 Gen 3a",
    "ThinkPad T16 Gen 1",       "ThinkPad P16s Gen 1",
    "ThinkPad T16 Gen 1a",      "ThinkPad P16s Gen 1a",
    "ThinkPad Z13 Gen 1",       "ThinkPad Z16 Gen 1",
    "ThinkPad X13 Yoga Gen 3",  "ThinkPad L13 Gen 3i",
    "ThinkPad L13 Yoga Gen 3i", "ThinkPad S2 Gen 7i",
    "ThinkPad L13 Gen 3a",      "ThinkPad L13 Yoga Gen 3a",
    "ThinkPad S2 Gen 7a",       "ThinkPad S2 Yoga Gen 7a",
    "ThinkPad L14 Gen 3",       "ThinkPad L14 Gen 3a",
    "ThinkPad L15 Gen 3",       "ThinkPad L15 Gen 3a",
};

TEST(PlatformTableTest, TwentySixRowsInOrderEachWithTheTwoModemIds) {
  const auto& table = PlatformTable();
  ASSERT_EQ(table.size(), std::size(kModels));
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(table[i].model, kModels[i]);
    EXPECT_STREQ(table[i].modem_ids[0], "7a3f0b41");
    EXPECT_STREQ(table[i].modem_ids[1], "7a3f0b42");
  }
}

// --- IsSupportModem ----------------------------------------------------------------------

TEST(IsSupportModemTest, EveryModelWithEveryListedIdInAnyCase) {
  for (const char* model : kModels) {
    SCOPED_TRACE(model);
    EXPECT_TRUE(IsSupportModem(model, "7A3F0B41"));
    EXPECT_TRUE(IsSupportModem(model, "7a3f0b42"));
    EXPECT_FALSE(IsSupportModem(model, "7A3F0B47"));
  }
}

TEST(IsSupportModemTest, CasesAndNearMisses) {
  struct Case {
    const char* version;
    const char* modem_id;
    bool supported;
  };
  const Case cases[] = {
      {"thinkpad x13 gen 3", "7A3F0B41", true},    // model case ignored
      {"THINKPAD L15 GEN 3A", "7a3F0B42", true},   // both ignored
      {"ThinkPad X13 Gen 3 ", "7A3F0B41", false},  // trailing blank
      {" ThinkPad X13 Gen 3", "7A3F0B41", false},  // leading blank
      {"ThinkPad  X13 Gen 3", "7A3F0B41", false},  // doubled blank
      {"ThinkPad X13 Gen", "7A3F0B41", false},     // prefix of a model
      {"ThinkPad X13 Gen 33", "7A3F0B41", false},  // a model is its prefix
      {"ThinkPad X13 Gen 3b", "7A3F0B41", false},  // neighbour of row 0 and 2
      {"VersaPro", "7A3F0B4", false},              // id cut short
      {"VersaPro", "7A3F0B411", false},            // id with more
      {"VersaPro", "7A3F0B49", false},             // a vendor product no row lists
      {"VersaPro", "", false},
      {"", "7A3F0B41", false},
      {"Unknown Laptop", "7A3F0B41", false},
      {"ThinkPad X13 Gen 3\xE0", "7A3F0B41", false},  // non-ASCII byte, no folding
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " / " + c.modem_id);
    EXPECT_EQ(IsSupportModem(c.version, c.modem_id), c.supported);
  }
}

TEST(IsSupportModemTest, TraceLines) {
  LogCapture capture;
  IsSupportModem("VersaPro", "7A3F0B41");
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CTaskAuthModule::IsSupportModem",
                                           "T h : - CTaskAuthModule::IsSupportModem"));
}

// --- parseDeviceHwid ---------------------------------------------------------------------

TEST(ParseDeviceHwidTest, Cases) {
  struct Case {
    const char* hwid;
    const char* modem_id;  // null: fails
  };
  const Case cases[] = {
      {"USB\\VID_7A3F&PID_0B41&MI_00", "7A3F0B41"},
      {"usb\\vid_7a3f&pid_0b42&rev_0318&mi_0c", "7A3F0B42"},  // upper-cased first
      {"USB\\VID_7A3F&PID_0B47", "7A3F0B47"},                 // ends right after the field
      {"USB\\VID_7A3F&PID_0B4", nullptr},                     // second field of 3
      {"USB\\VID_7A3&PID_0B41", "7A3&0B41"},                  // 4 characters, whatever they are
      {"USB\\PID_0B41", nullptr},                             // "USB" but no "VID_"
      {"USB\\VID_7A3F", nullptr},                             // no "PID_"
      {"USB\\VID_7A3F&PID_0B41\\PCI", "7A3F0B41"},            // both: the USB rule
      {"PCI\\VEN_17CB&DEV_ABCD&SUBSYS_1234ABCD&REV_00", "ABCD1234"},
      {"pci\\ven_17cb&dev_0306&subsys_0b4117cb", "03060B41"},
      {"PCI\\VEN_17CB&DEV_0306&SUBSYS_123", nullptr},  // subsystem cut short
      {"PCI\\VEN_17CB&SUBSYS_12345678", nullptr},      // no "DEV_"
      {"ACPI\\VID_7A3F&0B41", nullptr},                // "PCI" inside "ACPI": PCI rule
      {"VID_1234&PID_5678 USB", "12345678"},           // prefix at the very first position
      {"HID\\VID_7A3F&PID_0B41", nullptr},             // neither USB nor PCI
      {"", nullptr},
      {"USB\\VID_7A3F&PID_0B41&VID_0000&PID_0000", "7A3F0B41"},  // first occurrences
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hwid);
    std::string modem_id = "untouched";
    EXPECT_EQ(parseDeviceHwid(c.hwid, modem_id), c.modem_id != nullptr);
    EXPECT_EQ(modem_id, c.modem_id != nullptr ? c.modem_id : "untouched");
  }
}

TEST(ParseDeviceHwidTest, TraceLines) {
  LogCapture capture;
  std::string modem_id;
  parseDeviceHwid("USB\\VID_7A3F&PID_0B41", modem_id);
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CTaskAuthModule::parseDeviceHwid",
                                           "T h : - CTaskAuthModule::parseDeviceHwid"));
}

// --- VerifyPlatform ----------------------------------------------------------------------

class VerifyPlatformTest : public ::testing::Test {
 protected:
  void SetModel(const std::string& version, const std::string& family) {
    firmware_.raw = testing::Raw(testing::SystemInformation(27, version, family));
  }
  void SetModem(const std::string& hwid) {
    testing::FakeDevice d;
    d.hardware_ids = testing::MultiSz({hwid});
    devices_.devices = {d};
  }
  bool Verify() { return VerifyPlatform(firmware_, devices_); }

  FakeFirmware firmware_;
  FakeDevicePlatform devices_;
};

TEST_F(VerifyPlatformTest, ListedModelWithListedModem) {
  SetModel("ThinkPad X13 Gen 3", "ThinkPad X13");
  SetModem("USB\\VID_7A3F&PID_0B41&REV_0318&MI_00");
  LogCapture capture;
  EXPECT_TRUE(Verify());
  EXPECT_THAT(
      capture.Lines(),
      ElementsAre(
          "T h : + CTaskAuthModule::VerifyPlatform",
          "T i :   SMBIOS system version = ThinkPad X13 Gen 3",
          "T h : + CDeviceHelper::GetTessaryHwid",
          "T i :   find device : USB\\VID_7A3F&PID_0B41&REV_0318&MI_00",
          "T h : - CDeviceHelper::GetTessaryHwid",
          "T i :   Tessary Device HardwareID = USB\\VID_7A3F&PID_0B41&REV_0318&MI_00",
          "T h : + CTaskAuthModule::parseDeviceHwid", "T h : - CTaskAuthModule::parseDeviceHwid",
          "T i :   SMBIOS system version = ThinkPad X13 Gen 3, Device modem_id = 7A3F0B41",
          "T h : + CTaskAuthModule::IsSupportModem", "T h : - CTaskAuthModule::IsSupportModem",
          "T i :   VerifyPlatform return = true ", "T h : - CTaskAuthModule::VerifyPlatform"));
}

TEST_F(VerifyPlatformTest, ListedModelWithAnotherVendorModemIsRefused) {
  SetModel("thinkpad x13 gen 3", "");  // case ignored: row 0
  SetModem("USB\\VID_7A3F&PID_0B47&REV_0318&MI_00");
  LogCapture capture;
  EXPECT_FALSE(Verify());
  const auto lines = capture.Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[lines.size() - 5],
            "T i :   SMBIOS system version = thinkpad x13 gen 3, Device modem_id = 7A3F0B47");
  EXPECT_EQ(lines[lines.size() - 2], "T i :   VerifyPlatform return = false ");
}

TEST_F(VerifyPlatformTest, UnlistedModelsAreNotRestrictedAndTheModemIsNotLookedAt) {
  struct Case {
    const char* version;
    const char* family;
    const char* system_version;
  };
  const Case cases[] = {
      {"ThinkPad X13 Gen 3 ", "ThinkPad", "ThinkPad X13 Gen 3 "},  // trailing blank
      {"ab", "VersaPro", "abVersaPro"},                            // short Version + Family
      {"Unknown Laptop", "VersaPro", "Unknown Laptop"},            // Family only when short
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.system_version);
    devices_.lists_created = 0;
    SetModel(c.version, c.family);
    SetModem("USB\\VID_7A3F&PID_0B47");
    LogCapture capture;
    EXPECT_TRUE(Verify());
    EXPECT_THAT(capture.Lines(),
                ElementsAre("T h : + CTaskAuthModule::VerifyPlatform",
                            "T i :   SMBIOS system version = " + std::string(c.system_version),
                            "T i :   not in platform list. VerifyPlatform return = true ",
                            "T h : - CTaskAuthModule::VerifyPlatform"));
    EXPECT_EQ(devices_.lists_created, 0);
  }
}

TEST_F(VerifyPlatformTest, FirmwareWithoutSystemInformationIsNotRestricted) {
  firmware_.raw = testing::Raw(testing::EndOfTable());
  SetModem("USB\\VID_7A3F&PID_0B47");
  EXPECT_TRUE(Verify());
  EXPECT_EQ(devices_.lists_created, 0);
}

TEST_F(VerifyPlatformTest, ShortVersionTakesTheFamily) {
  // An empty Version and the Family VersaPro give row 1.
  SetModel("", "VersaPro");
  SetModem("USB\\VID_7A3F&PID_0B42&MI_00");
  EXPECT_TRUE(Verify());
  EXPECT_EQ(devices_.lists_created, 1);

  SetModel("", "VersaPro");
  SetModem("USB\\VID_7A3F&PID_0B49&MI_00");
  EXPECT_FALSE(Verify());
}

TEST_F(VerifyPlatformTest, NoVendorDevice) {
  SetModel("VersaPro", "");
  SetModem("USB\\VID_2C7C&PID_0125");
  LogCapture capture;
  EXPECT_FALSE(Verify());
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[5], "T i :   Get Tessary Device HardwareID Faild");
  EXPECT_EQ(lines[6], "T i :   VerifyPlatform return = false ");
  EXPECT_EQ(lines[7], "T h : - CTaskAuthModule::VerifyPlatform");
}

TEST_F(VerifyPlatformTest, HardwareIdWithoutModemId) {
  // The device matches the vendor pattern, but "ACPI" makes it a PCI id without DEV_.
  SetModel("VersaPro", "");
  SetModem("ACPI\\VID_7A3F&0B41");
  LogCapture capture;
  EXPECT_FALSE(Verify());
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[5], "T i :   Tessary Device HardwareID = ACPI\\VID_7A3F&0B41");
  EXPECT_EQ(lines[8], "T i :   parseDeviceHwid return fail, hwid = ACPI\\VID_7A3F&0B41");
  EXPECT_EQ(lines[9], "T i :   VerifyPlatform return = false ");
}

}  // namespace
}  // namespace halvorn
