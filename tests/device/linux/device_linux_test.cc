// The Linux backend of device discovery against umockdev test beds, and the device helper
// on top of it. Runs under in_testbed.sh.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "device/device_helper.h"
#include "device/device_platform.h"
#include "device/linux/testbed.h"
#include "device/multi_sz.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

namespace dp = device_platform;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::LogCapture;
using testing::MultiSzStrings;
using testing::Testbed;

struct ListedDevice {
  std::vector<std::string> hardware_ids;
  std::string description;
  std::vector<std::uint8_t> power;
};

std::vector<ListedDevice> ListDevices() {
  std::vector<ListedDevice> out;
  std::unique_ptr<dp::DeviceList> list;
  OsStatus status = SystemDevicePlatform().GetPresentDevices(&list);
  if (!list) {
    ADD_FAILURE() << "no device list, error " << WindowsErrorCode(status);
    return out;
  }
  for (std::uint32_t i = 0; (status = list->SelectDevice(i)).ok(); ++i) {
    std::vector<std::uint8_t> ids(1024);
    std::vector<std::uint8_t> desc(1024);
    std::vector<std::uint8_t> power(56);
    EXPECT_TRUE(list->ReadProperty(dp::DeviceProperty::kHardwareId, ids));
    EXPECT_TRUE(list->ReadProperty(dp::DeviceProperty::kDeviceDesc, desc));
    EXPECT_TRUE(list->ReadProperty(dp::DeviceProperty::kDevicePowerData, power));
    const auto desc_strings = MultiSzStrings(desc);
    out.push_back({MultiSzStrings(ids), desc_strings.empty() ? "" : desc_strings[0], power});
  }
  EXPECT_EQ(status, OsStatus::Of(OsOutcome::kNoMoreItems));
  return out;
}

std::vector<dp::AdapterRecord> ListAdapters() {
  std::vector<std::uint8_t> buffer(SystemDevicePlatform().GetAdapterListSize(dp::kAfUnspec, 0));
  std::vector<dp::AdapterRecord> adapters;
  EXPECT_EQ(SystemDevicePlatform().GetAdapterList(dp::kAfInet, dp::kGaaFlagSkipMulticast, buffer,
                                                  &adapters),
            OsStatus::Ok());
  return adapters;
}

class DeviceLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Testbed::Preloaded())
        << "run this program through tests/device/linux/in_testbed.sh (umockdev-wrapper)";
  }
  Testbed bed_;
};

TEST_F(DeviceLinuxTest, VendorUsbModemHardwareIdsInWindowsFormat) {
  const std::string hub = bed_.AddUsbHost();
  bed_.AddUsbModem(hub, "2-3", "7a3f", "0b41", "wwan0", 3);
  const auto devices = ListDevices();
  ASSERT_EQ(devices.size(), 5u);  // controller, root hub, modem, its two interfaces
  EXPECT_THAT(devices[0].hardware_ids,
              ElementsAre("PCI\\VEN_8086&DEV_A0ED&SUBSYS_22D817AA&REV_20",
                          "PCI\\VEN_8086&DEV_A0ED&SUBSYS_22D817AA",
                          "PCI\\VEN_8086&DEV_A0ED&CC_0C0330", "PCI\\VEN_8086&DEV_A0ED&CC_0C03"));
  EXPECT_THAT(devices[1].hardware_ids,
              ElementsAre("USB\\VID_1D6B&PID_0003&REV_0515", "USB\\VID_1D6B&PID_0003"));
  EXPECT_EQ(devices[1].description, "xHCI Host Controller");
  EXPECT_THAT(devices[2].hardware_ids,
              ElementsAre("USB\\VID_7A3F&PID_0B41&REV_0318", "USB\\VID_7A3F&PID_0B41"));
  EXPECT_EQ(devices[2].description, "LTE Module");
  EXPECT_THAT(devices[3].hardware_ids,
              ElementsAre("USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C", "USB\\VID_7A3F&PID_0B41&MI_0C"));
  EXPECT_EQ(devices[3].description, "Mobile Broadband Interface Model");
  EXPECT_THAT(devices[4].hardware_ids,
              ElementsAre("USB\\VID_7A3F&PID_0B41&REV_0318&MI_0D", "USB\\VID_7A3F&PID_0B41&MI_0D"));
  // CM_POWER_DATA: PD_Size 56, then the most recent state D0.
  EXPECT_EQ(std::vector<std::uint8_t>(devices[2].power.begin(), devices[2].power.begin() + 8),
            (std::vector<std::uint8_t>{56, 0, 0, 0, 1, 0, 0, 0}));
}

TEST_F(DeviceLinuxTest, VendorUsbModemIsFoundFromBothSides) {
  bed_.AddOtherNetworking();
  bed_.AddUsbModem(bed_.AddUsbHost(), "2-3", "7a3f", "0b41", "wwan0", 3);

  LogCapture capture;
  std::string hwid;
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(SystemDevicePlatform(), hwid), 0);
  EXPECT_EQ(hwid, "USB\\VID_7A3F&PID_0B41&REV_0318");  // the modem comes before its interfaces

  std::uint8_t found = 0;
  EXPECT_TRUE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
  EXPECT_EQ(found, 1);
  const auto lines = capture.Lines();
  EXPECT_THAT(
      lines, ::testing::Contains("T i :   Get Instance Id USB\\VID_7A3F&PID_0B41&MI_0C\\2-3:1.12"));
  EXPECT_THAT(lines, ::testing::Contains(::testing::MatchesRegex(
                         R"(T i :   Adapters Info: adapter name = \{[0-9A-F]{8}-[0-9A-F]{4}-)"
                         R"([0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}, adapter desc = Mobile )"
                         R"(Broadband Interface Model, friend name=wwan0)")));
  EXPECT_THAT(lines, ::testing::Contains(HasSubstr("mbim oper status = 2 ")));
}

TEST_F(DeviceLinuxTest, AdaptersInIfindexOrderWithStableDistinctNames) {
  bed_.AddUsbModem(bed_.AddUsbHost(), "2-3", "7a3f", "0b41", "wwan0", 3);
  bed_.AddOtherNetworking();
  const auto adapters = ListAdapters();
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[0].friendly_name, L"lo");
  EXPECT_EQ(adapters[0].if_type, 24u);
  EXPECT_EQ(adapters[0].oper_status, 4u);
  EXPECT_EQ(adapters[1].friendly_name, L"eth0");
  EXPECT_EQ(adapters[1].if_type, 6u);
  EXPECT_EQ(adapters[1].oper_status, 1u);
  EXPECT_EQ(adapters[1].description, L"Ethernet Connection");
  EXPECT_EQ(adapters[2].friendly_name, L"wwan0");
  EXPECT_EQ(adapters[2].if_type, 243u);
  EXPECT_EQ(adapters[2].oper_status, 2u);
  EXPECT_NE(adapters[0].adapter_name, adapters[1].adapter_name);
  EXPECT_NE(adapters[1].adapter_name, adapters[2].adapter_name);
  const std::regex guid(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
  for (const auto& a : adapters) {
    EXPECT_TRUE(std::regex_match(a.adapter_name, guid)) << a.adapter_name;
  }
  EXPECT_EQ(ListAdapters()[2].adapter_name, adapters[2].adapter_name);
}

TEST_F(DeviceLinuxTest, AdapterListRefusesABufferTooSmall) {
  bed_.AddOtherNetworking();
  const std::uint32_t size = SystemDevicePlatform().GetAdapterListSize(dp::kAfUnspec, 0);
  std::vector<std::uint8_t> buffer(size - 1);
  std::vector<dp::AdapterRecord> adapters;
  EXPECT_EQ(SystemDevicePlatform().GetAdapterList(dp::kAfInet, 0, buffer, &adapters),
            OsStatus::Of(OsOutcome::kDoesNotFit));
}

TEST_F(DeviceLinuxTest, NetClassKeysNameEveryAdapterAndTheDeviceBehindIt) {
  bed_.AddOtherNetworking();
  bed_.AddUsbModem(bed_.AddUsbHost(), "2-3", "7a3f", "0b42", "wwan0", 3);
  const auto adapters = ListAdapters();
  auto key = SystemDevicePlatform().OpenNetClassKey();
  ASSERT_TRUE(key);
  std::vector<std::string> cfg_ids;
  std::vector<std::string> instance_ids;
  for (std::uint32_t i = 0;; ++i) {
    char name[256];
    std::uint32_t size = sizeof name;
    if (!key->EnumSubKey(i, name, &size).ok()) {
      break;
    }
    EXPECT_EQ(size, 4u);
    std::unique_ptr<dp::RegistryKey> sub;
    ASSERT_EQ(key->OpenSubKey(name, &sub), OsStatus::Ok());
    std::uint8_t data[256];
    std::uint32_t data_size = sizeof data;
    ASSERT_EQ(sub->QueryValue("NetCfgInstanceId", data, &data_size), OsStatus::Ok());
    cfg_ids.emplace_back(reinterpret_cast<const char*>(data));
    data_size = sizeof data;
    const OsStatus rc = sub->QueryValue("DeviceInstanceID", data, &data_size);
    instance_ids.push_back(rc.ok() ? reinterpret_cast<const char*>(data) : "-");
  }
  ASSERT_EQ(cfg_ids.size(), adapters.size());
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    EXPECT_EQ(cfg_ids[i], adapters[i].adapter_name);
  }
  EXPECT_THAT(instance_ids,
              ElementsAre("-", "PCI\\VEN_8086&DEV_15FC&SUBSYS_22D817AA&REV_20\\0000:00:1f.6",
                          "USB\\VID_7A3F&PID_0B42&MI_0C\\2-3:1.12"));
  // A value that does not fit is refused with the size it needs.
  std::unique_ptr<dp::RegistryKey> sub;
  ASSERT_EQ(key->OpenSubKey("0002", &sub), OsStatus::Ok());
  std::uint8_t small[8];
  std::uint32_t small_size = sizeof small;
  EXPECT_EQ(sub->QueryValue("DeviceInstanceID", small, &small_size),
            OsStatus::Of(OsOutcome::kDoesNotFit));
  EXPECT_EQ(small_size, instance_ids[2].size() + 1);
  EXPECT_EQ(key->OpenSubKey("0003", &sub), OsStatus::Of(OsOutcome::kNotFound));
}

TEST_F(DeviceLinuxTest, ForeignModem) {
  bed_.AddUsbModem(bed_.AddUsbHost(), "2-3", "2c7c", "0125", "wwan0", 3);
  LogCapture capture;
  std::string hwid = "untouched";
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(SystemDevicePlatform(), hwid), 3);
  EXPECT_EQ(hwid, "untouched");
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
  EXPECT_EQ(found, 0);
  const auto lines = capture.Lines();
  EXPECT_THAT(
      lines, ::testing::Contains("T i :   Get Instance Id USB\\VID_2C7C&PID_0125&MI_0C\\2-3:1.12"));
  EXPECT_THAT(lines, ::testing::Contains("T i :   not find mbim vid (VID_7A3F),return"));
}

TEST_F(DeviceLinuxTest, TwoMobileBroadbandAdaptersOnlyTheFirstIsFollowed) {
  const std::string hub = bed_.AddUsbHost();
  bed_.AddUsbModem(hub, "2-1", "2c7c", "0125", "wwan0", 3);
  bed_.AddUsbModem(hub, "2-3", "7a3f", "0b41", "wwan1", 5);
  std::string hwid;
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(SystemDevicePlatform(), hwid),
            0);  // the device side sees every device
  EXPECT_EQ(hwid, "USB\\VID_7A3F&PID_0B41&REV_0318");
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
}

TEST_F(DeviceLinuxTest, TwoMobileBroadbandAdaptersTheVendorOneFirst) {
  const std::string hub = bed_.AddUsbHost();
  bed_.AddUsbModem(hub, "2-1", "2c7c", "0125", "wwan1", 7);
  bed_.AddUsbModem(hub, "2-3", "7a3f", "0b4a", "wwan0", 4);
  std::uint8_t found = 0;
  EXPECT_TRUE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
  EXPECT_EQ(found, 1);
}

TEST_F(DeviceLinuxTest, PciModem) {
  bed_.AddPciModem("0000:03:00.0", "0x7a3f", "0x0b41", "wwan0", 4);
  const auto devices = ListDevices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_THAT(devices[0].hardware_ids,
              ElementsAre("PCI\\VEN_7A3F&DEV_0B41&SUBSYS_0B417A3F&REV_00",
                          "PCI\\VEN_7A3F&DEV_0B41&SUBSYS_0B417A3F",
                          "PCI\\VEN_7A3F&DEV_0B41&CC_0D4000", "PCI\\VEN_7A3F&DEV_0B41&CC_0D40"));
  LogCapture capture;
  std::string hwid;
  // PCI ids carry VEN_, not VID_: never the vendor's USB modem.
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(SystemDevicePlatform(), hwid), 3);
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
  const auto lines = capture.Lines();
  EXPECT_THAT(lines, ::testing::Contains("T i :   Get Instance Id "
                                         "PCI\\VEN_7A3F&DEV_0B41&SUBSYS_0B417A3F&REV_00\\0000:03:"
                                         "00.0"));
  EXPECT_THAT(lines, ::testing::Contains("T i :   not find mbim vid (VID_7A3F),return"));
}

TEST_F(DeviceLinuxTest, NoModemAtAll) {
  bed_.AddOtherNetworking();
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
  EXPECT_THAT(capture.Lines(), ::testing::Contains("T i :   not get adapter,return "));
}

}  // namespace
}  // namespace halvorn
