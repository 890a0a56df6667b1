// The Windows backend of device discovery, run under Wine (or on Windows): a device made
// with SetupDiCreateDeviceInfoW carrying a vendor hardware id, a driver key of the network
// class, and the machine's adapter list.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "device/device_helper.h"
#include "device/device_platform.h"
#include "device/multi_sz.h"
#include "device/win/win_devices.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

namespace dp = device_platform;
using testing::DriverKey;
using ::testing::ElementsAre;
using testing::LogCapture;
using testing::MultiSzStrings;

constexpr wchar_t kInstanceId[] = L"USB\\VID_7A3F&PID_0B41&MI_0C\\HALVORNTEST&0&000C";
// REG_MULTI_SZ: two ids and the empty string that ends the list.
constexpr wchar_t kHardwareIds[] =
    L"USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C\0USB\\VID_7A3F&PID_0B41&MI_0C\0";

// The test device: instance id, description and hardware ids as the tests below expect.
class TestDevice : public testing::CreatedDevice {
 public:
  TestDevice()
      : CreatedDevice(kInstanceId,
                      L"LTE Module MBIM",
                      std::wstring(kHardwareIds, std::size(kHardwareIds) - 1)) {}
};

struct Listed {
  bool found = false;
  std::vector<std::string> hardware_ids;
  std::vector<std::string> description;
  bool has_power_data = false;
};

// The created device as the backend lists it.
Listed FindCreated() {
  Listed out;
  std::unique_ptr<dp::DeviceList> list;
  OsStatus status = SystemDevicePlatform().GetPresentDevices(&list);
  EXPECT_TRUE(list) << WindowsErrorCode(status);
  if (!list) {
    return out;
  }
  for (std::uint32_t i = 0; (status = list->SelectDevice(i)).ok(); ++i) {
    std::vector<std::uint8_t> ids(1024);
    if (!list->ReadProperty(dp::DeviceProperty::kHardwareId, ids) ||
        MultiSzStrings(ids).front() != "USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C") {
      continue;
    }
    out.found = true;
    out.hardware_ids = MultiSzStrings(ids);
    std::vector<std::uint8_t> desc(1024);
    EXPECT_TRUE(list->ReadProperty(dp::DeviceProperty::kDeviceDesc, desc));
    out.description = MultiSzStrings(desc);
    std::vector<std::uint8_t> power(56);
    out.has_power_data = list->ReadProperty(dp::DeviceProperty::kDevicePowerData, power);
  }
  EXPECT_EQ(status, OsStatus::Of(OsOutcome::kNoMoreItems));
  return out;
}

TEST(DeviceWinTest, CreatedDeviceIsListedWithItsHardwareIds) {
  TestDevice device;
  ASSERT_TRUE(device.created()) << ::GetLastError();
  const Listed listed = FindCreated();
  ASSERT_TRUE(listed.found);
  EXPECT_THAT(listed.hardware_ids,
              ElementsAre("USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C", "USB\\VID_7A3F&PID_0B41&MI_0C"));
  EXPECT_THAT(listed.description, ElementsAre("LTE Module MBIM"));
  // A hardware id list does not fit a buffer shorter than itself.
  std::unique_ptr<dp::DeviceList> list;
  OsStatus status = SystemDevicePlatform().GetPresentDevices(&list);
  ASSERT_TRUE(list);
  bool refused = false;
  for (std::uint32_t i = 0; (status = list->SelectDevice(i)).ok(); ++i) {
    std::vector<std::uint8_t> ids(1024);
    if (list->ReadProperty(dp::DeviceProperty::kHardwareId, ids) &&
        MultiSzStrings(ids).front() == "USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C") {
      std::vector<std::uint8_t> small(sizeof kHardwareIds - 2);
      refused = !list->ReadProperty(dp::DeviceProperty::kHardwareId, small);
    }
  }
  EXPECT_TRUE(refused);
}

TEST(DeviceWinTest, GetTessaryHwidFindsTheCreatedDevice) {
  TestDevice device;
  ASSERT_TRUE(device.created());
  if (!FindCreated().has_power_data) {
    // Wine's SetupAPI has no SPDRP_DEVICE_POWER_DATA, and the helper considers only
    // devices with power data.
    GTEST_SKIP() << "this SetupAPI gives devices no power data (Wine)";
  }
  std::string hwid;
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(SystemDevicePlatform(), hwid), 0);
  EXPECT_EQ(hwid, "USB\\VID_7A3F&PID_0B41&REV_0318&MI_0C");
}

TEST(DeviceWinTest, NetClassKeyGivesTheDriverKeysAndTheirValues) {
  const std::string cfg = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  const std::string instance = "usb\\vid_7a3f&pid_0b41&mi_0c\\6&1a2b&0&000c";
  DriverKey created("9876", cfg, instance);
  ASSERT_TRUE(created.ok());
  auto key = SystemDevicePlatform().OpenNetClassKey();
  ASSERT_TRUE(key);
  bool seen = false;
  for (std::uint32_t i = 0;; ++i) {
    char name[256];
    std::uint32_t size = sizeof name;
    if (key->EnumSubKey(i, name, &size) != OsStatus::Ok()) {
      break;
    }
    if (std::string(name, size) != "9876") {
      continue;
    }
    seen = true;
    std::unique_ptr<dp::RegistryKey> sub;
    ASSERT_EQ(key->OpenSubKey(name, &sub), OsStatus::Ok());
    std::uint8_t data[256];
    std::uint32_t data_size = sizeof data;
    ASSERT_EQ(sub->QueryValue("NetCfgInstanceId", data, &data_size), OsStatus::Ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), data_size), cfg + '\0');
    data_size = 8;
    EXPECT_EQ(sub->QueryValue("DeviceInstanceID", data, &data_size),
              OsStatus::Of(OsOutcome::kDoesNotFit));
    data_size = sizeof data;
    EXPECT_EQ(sub->QueryValue("Missing", data, &data_size), OsStatus::Of(OsOutcome::kNotFound));
  }
  EXPECT_TRUE(seen);
  // A name buffer too short for the key's name is refused.
  char tiny[2];
  std::uint32_t tiny_size = sizeof tiny;
  OsStatus rc = OsStatus::Ok();
  for (std::uint32_t i = 0; rc != OsStatus::Of(OsOutcome::kNoMoreItems); ++i) {
    tiny_size = sizeof tiny;
    rc = key->EnumSubKey(i, tiny, &tiny_size);
    if (rc != OsStatus::Of(OsOutcome::kNoMoreItems)) {
      EXPECT_EQ(rc, OsStatus::Of(OsOutcome::kDoesNotFit));
    }
  }
}

TEST(DeviceWinTest, AdapterListOfTheMachine) {
  const std::uint32_t size = SystemDevicePlatform().GetAdapterListSize(dp::kAfUnspec, 0);
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> buffer(size);
  std::vector<dp::AdapterRecord> adapters;
  ASSERT_EQ(SystemDevicePlatform().GetAdapterList(dp::kAfInet, dp::kGaaFlagSkipMulticast, buffer,
                                                  &adapters),
            OsStatus::Ok());
  ASSERT_FALSE(adapters.empty());
  for (const auto& a : adapters) {
    EXPECT_FALSE(a.adapter_name.empty());
  }
  std::vector<std::uint8_t> tiny(1);
  EXPECT_EQ(SystemDevicePlatform().GetAdapterList(dp::kAfInet, dp::kGaaFlagSkipMulticast, tiny,
                                                  &adapters),
            OsStatus::Of(OsOutcome::kDoesNotFit));
}

TEST(DeviceWinTest, MbimCheckFollowsTheFirstMobileBroadbandAdapter) {
  std::vector<std::uint8_t> buffer(SystemDevicePlatform().GetAdapterListSize(dp::kAfUnspec, 0));
  std::vector<dp::AdapterRecord> adapters;
  SystemDevicePlatform().GetAdapterList(dp::kAfInet, dp::kGaaFlagSkipMulticast, buffer, &adapters);
  for (const auto& a : adapters) {
    if (a.if_type == 243) {
      GTEST_SKIP() << "this machine has a mobile broadband adapter";
    }
  }
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(SystemDevicePlatform(), found));
  EXPECT_EQ(found, 0);
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CDeviceHelper::IsTessaryMBIMDevcieExist",
                                           "T i :   not get adapter,return ",
                                           "T h : - CDeviceHelper::IsTessaryMBIMDevcieExist"));
}

}  // namespace
}  // namespace halvorn
