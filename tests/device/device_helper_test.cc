#include "device/device_helper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "device/fake_device_platform.h"
#include "support/log_capture.h"

namespace halvorn {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::FakeDevice;
using testing::FakeDevicePlatform;
using testing::FakeDriverKey;
using testing::LogCapture;
using testing::MultiSz;
using testing::RegSz;
using testing::Utf16;

constexpr const char* kModemId = "USB\\VID_7A3F&PID_0B49&REV_0318&MI_00";

FakeDevice Device(std::vector<std::string> ids) {
  FakeDevice d;
  d.hardware_ids = MultiSz(ids);
  return d;
}

class DeviceHelperTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Every list and key is released before the operation returns.
    EXPECT_EQ(devices_.lists_open, 0);
    EXPECT_EQ(devices_.keys_open, 0);
  }

  FakeDevicePlatform devices_;
};

// --- GetTessaryHwid ------------------------------------------------------------------

struct HwidCase {
  const char* name;
  std::vector<FakeDevice> devices;
  std::string expected;  // empty: no match (3)
};

void PrintTo(const HwidCase& c, std::ostream* os) {
  *os << c.name;
}

class GetTessaryHwidMatchTest : public DeviceHelperTest,
                                public ::testing::WithParamInterface<HwidCase> {};

TEST_P(GetTessaryHwidMatchTest, FindsTheFirstMatchingDevice) {
  devices_.devices = GetParam().devices;
  std::string hwid = "untouched";
  const int rc = CDeviceHelper::GetTessaryHwid(devices_, hwid);
  if (GetParam().expected.empty()) {
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(hwid, "untouched");
  } else {
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(hwid, GetParam().expected);
  }
}

FakeDevice WithoutDescription(FakeDevice d) {
  d.description.reset();
  return d;
}
FakeDevice WithoutPowerData(FakeDevice d) {
  d.power_data.reset();
  return d;
}
FakeDevice WithDescription(FakeDevice d, Bytes description) {
  d.description = std::move(description);
  return d;
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    GetTessaryHwidMatchTest,
    ::testing::Values(
        HwidCase{"FirstIdOfTheVendor",
                 {Device({kModemId, "USB\\VID_7A3F&PID_0B49&MI_00"})},
                 kModemId},
        HwidCase{"FirstMatchingDeviceWins",
                 {Device({"USB\\VID_7A3F&PID_0B42"}), Device({"USB\\VID_7A3F&PID_0B41"})},
                 "USB\\VID_7A3F&PID_0B42"},
        HwidCase{"LastProductIdOfTheList",
                 {Device({"USB\\VID_7A3F&PID_0B4A&MI_02"})},
                 "USB\\VID_7A3F&PID_0B4A&MI_02"},
        HwidCase{"ProductIdAnywhere",
                 {Device({"USB\\VID_7A3F&PID_1234&REV_0B47"})},
                 "USB\\VID_7A3F&PID_1234&REV_0B47"},
        HwidCase{"VendorOnlyInTheSecondString", {Device({"USB\\VID_1234&PID_0001", kModemId})}, ""},
        HwidCase{"LowerCaseDoesNotMatch", {Device({"usb\\vid_7a3f&pid_0b49&mi_00"})}, ""},
        HwidCase{"PciIdNeverMatches",
                 {Device({"PCI\\VEN_7A3F&DEV_0B41&SUBSYS_0B4117CB&REV_00"})},
                 ""},
        HwidCase{"OtherProduct", {Device({"USB\\VID_7A3F&PID_0B43&MI_00"})}, ""},
        HwidCase{"ForeignVendor", {Device({"USB\\VID_2C7C&PID_0B41"})}, ""},
        HwidCase{
            "PassesOverForeignDevices",
            {Device({"ACPI\\PNP0A08"}), Device({"USB\\VID_2C7C&PID_0125"}), Device({kModemId})},
            kModemId},
        HwidCase{"DeviceWithoutDescriptionIsNeverConsidered",
                 {WithoutDescription(Device({kModemId})), Device({"USB\\VID_7A3F&PID_0B41"})},
                 "USB\\VID_7A3F&PID_0B41"},
        HwidCase{"DeviceWithoutPowerDataIsNeverConsidered",
                 {WithoutPowerData(Device({kModemId}))},
                 ""},
        HwidCase{"DeviceWithoutHardwareIds", {FakeDevice{}, Device({kModemId})}, kModemId},
        // A description that does not fit 1024 bytes cannot be read.
        HwidCase{"DescriptionTooLongForItsBuffer",
                 {WithDescription(Device({kModemId}), Utf16(std::string(512, 'd')))},
                 ""},
        HwidCase{"DescriptionFillingItsBuffer",
                 {WithDescription(Device({kModemId}), Utf16(std::string(511, 'd')))},
                 kModemId},
        // The whole list must fit 1024 bytes, however short its first string.
        HwidCase{"HardwareIdListTooLongForItsBuffer",
                 {Device({kModemId, std::string(600, 'x')})},
                 ""},
        // Ids are held in 128 bytes: 127 characters fit, longer ones are refused.
        HwidCase{"IdOf127Characters",
                 {Device({"USB\\VID_7A3F&PID_0B41\\" + std::string(127 - 22, 's')})},
                 "USB\\VID_7A3F&PID_0B41\\" + std::string(127 - 22, 's')},
        HwidCase{"IdOf128CharactersIsRefused",
                 {Device({"USB\\VID_7A3F&PID_0B41\\" + std::string(128 - 22, 's')})},
                 ""},
        HwidCase{"NoDevices", {}, ""}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST_F(DeviceHelperTest, HwidWithoutTerminatorIsRefused) {
  // 512 UTF-16 units of id and no zero anywhere in the 1024 bytes.
  FakeDevice d;
  Bytes ids;
  const std::string text = "USB\\VID_7A3F&PID_0B41";
  for (std::size_t i = 0; i < 512; ++i) {
    ids.push_back(static_cast<std::uint8_t>(text[i % text.size()]));
    ids.push_back(0);
  }
  d.hardware_ids = ids;
  devices_.devices = {d};
  std::string hwid;
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(devices_, hwid), 3);
}

TEST_F(DeviceHelperTest, HwidMatchLogs) {
  devices_.devices = {Device({"ROOT\\SYSTEM"}), Device({kModemId})};
  LogCapture capture;
  std::string hwid;
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(devices_, hwid), 0);
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CDeviceHelper::GetTessaryHwid",
                                           "T i :   find device : " + std::string(kModemId),
                                           "T h : - CDeviceHelper::GetTessaryHwid"));
}

TEST_F(DeviceHelperTest, HwidEndOfListLogs) {
  devices_.devices = {Device({"ROOT\\SYSTEM"})};
  LogCapture capture;
  std::string hwid;
  EXPECT_EQ(CDeviceHelper::GetTessaryHwid(devices_, hwid), 3);
  EXPECT_THAT(capture.Lines(),
              ElementsAre("T h : + CDeviceHelper::GetTessaryHwid",
                          "T i :   SetupDiEnumDeviceInfo return : 0 ,error code: 0x00000103",
                          "T h : - CDeviceHelper::GetTessaryHwid"));
}

TEST_F(DeviceHelperTest, HwidListFailureLogsItsWindowsErrorNumber) {
  const struct {
    OsStatus status;
    const char* line;
  } cases[] = {
      // A SetupAPI number of its own is kept as it is.
      {OsStatus::Other(0xE000020B), "T i :   SetupDiGetClassDevs error code 0xe000020b"},
      {OsStatus::Of(OsOutcome::kOutOfMemory), "T i :   SetupDiGetClassDevs error code 0x00000008"},
      {OsStatus::Of(OsOutcome::kAccessDenied), "T i :   SetupDiGetClassDevs error code 0x00000005"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    devices_.list_fails = true;
    devices_.list_error = c.status;
    LogCapture capture;
    std::string hwid = "untouched";
    EXPECT_EQ(CDeviceHelper::GetTessaryHwid(devices_, hwid), 3);
    EXPECT_EQ(hwid, "untouched");
    EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CDeviceHelper::GetTessaryHwid", c.line,
                                             "T h : - CDeviceHelper::GetTessaryHwid"));
  }
}

// --- IsTessaryMBIMDevcieExist -----------------------------------------------------------

constexpr const char* kGuid = "{8B2C4F1E-7A3D-4E5F-9A1B-2C3D4E5F6A7B}";
constexpr const char* kOtherGuid = "{00000000-1111-2222-3333-444444444444}";
constexpr const char* kInstance = "USB\\VID_7A3F&PID_0B41&MI_0C\\6&1A2B3C4D&0&000C";

device_platform::AdapterRecord Adapter(const std::string& name,
                                       std::uint32_t if_type,
                                       std::uint32_t oper_status = 1) {
  return {name, L"Generic Mobile Broadband Adapter", L"Cellular", if_type, oper_status};
}

FakeDriverKey Key(const std::string& name,
                  std::optional<std::string> cfg,
                  std::optional<std::string> instance) {
  FakeDriverKey k;
  k.name = name;
  if (cfg) {
    k.net_cfg_instance_id = RegSz(*cfg);
  }
  if (instance) {
    k.device_instance_id = RegSz(*instance);
  }
  return k;
}

struct MbimCase {
  const char* name;
  std::vector<device_platform::AdapterRecord> adapters;
  std::vector<FakeDriverKey> keys;
  bool found;
  std::string last_message;  // the last information line before the exit trace line
};

void PrintTo(const MbimCase& c, std::ostream* os) {
  *os << c.name;
}

class MbimMatchTest : public DeviceHelperTest, public ::testing::WithParamInterface<MbimCase> {};

TEST_P(MbimMatchTest, Decides) {
  const MbimCase& c = GetParam();
  devices_.adapters = c.adapters;
  devices_.driver_keys = c.keys;
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_EQ(CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found), c.found);
  EXPECT_EQ(found, c.found ? 1 : 0);
  const std::vector<std::string> lines = capture.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), "T h : + CDeviceHelper::IsTessaryMBIMDevcieExist");
  EXPECT_EQ(lines.back(), "T h : - CDeviceHelper::IsTessaryMBIMDevcieExist");
  EXPECT_EQ(lines[lines.size() - 2], "T i :   " + c.last_message);
}

const std::string kFind = "IsTessaryMBIMDevcieExist VID_7A3F 0B41;0B42;0B47;0B49;0B4A find ";
const std::string kNoAdapter = "not get adapter,return ";
const std::string kNoHardwareId = "not get hardware id,return";
const std::string kNoVid = "not find mbim vid (VID_7A3F),return";
const std::string kNoPid = "not find mbim pid (0B41;0B42;0B47;0B49;0B4A),return";

INSTANTIATE_TEST_SUITE_P(
    Cases,
    MbimMatchTest,
    ::testing::Values(
        MbimCase{"VendorModem",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, kInstance)},
                 true,
                 kFind},
        MbimCase{"LowerCaseInstanceIdIsUpperCasedFirst",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "usb\\vid_7a3f&pid_0b42&mi_0c\\6&1a2b")},
                 true,
                 kFind},
        MbimCase{"LastProductIdOfTheList",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "USB\\VID_7A3F&PID_0B4A&MI_0C\\1")},
                 true,
                 kFind},
        MbimCase{"ProductIdInTheSerialPart",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "USB\\VID_7A3F&PID_1111\\0B47SERIAL")},
                 true,
                 kFind},
        MbimCase{"AdapterThatIsDownIsTakenAllTheSame",
                 {Adapter(kGuid, 243, 2)},
                 {Key("0000", kGuid, kInstance)},
                 true,
                 kFind},
        MbimCase{"NoMobileBroadbandAdapter",
                 {Adapter(kGuid, 6), Adapter(kOtherGuid, 71)},
                 {Key("0000", kGuid, kInstance)},
                 false,
                 kNoAdapter},
        MbimCase{"NoAdapters", {}, {}, false, kNoAdapter},
        MbimCase{
            "OnlyTheFirstMobileBroadbandAdapterIsFollowed",
            {Adapter(kOtherGuid, 243), Adapter(kGuid, 243)},
            {Key("0000", kOtherGuid, "USB\\VID_2C7C&PID_0125\\1"), Key("0001", kGuid, kInstance)},
            false,
            kNoVid},
        MbimCase{"AdapterNamedInNoKey",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kOtherGuid, kInstance)},
                 false,
                 kNoHardwareId},
        MbimCase{
            "InstanceIdIsTakenFromTheKeyNamingTheAdapter",
            {Adapter(kGuid, 243)},
            {Key("0000", kOtherGuid, "USB\\VID_2C7C&PID_0125\\1"), Key("0001", kGuid, kInstance)},
            true,
            kFind},
        MbimCase{"NetCfgInstanceIdIsASubstringTest",
                 {Adapter(kGuid, 243)},
                 {Key("0000", std::string("prefix") + kGuid + "suffix", kInstance)},
                 true,
                 kFind},
        MbimCase{"NetCfgInstanceIdIsCaseSensitive",
                 {Adapter(kGuid, 243)},
                 {Key("0000", "{8b2c4f1e-7a3d-4e5f-9a1b-2c3d4e5f6a7b}", kInstance)},
                 false,
                 kNoHardwareId},
        MbimCase{"KeyWithoutNetCfgInstanceIdIsPassedOver",
                 {Adapter(kGuid, 243)},
                 {Key("0000", std::nullopt, kInstance), Key("0001", kGuid, kInstance)},
                 true,
                 kFind},
        MbimCase{"KeyWithoutDeviceInstanceIdIsPassedOver",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, std::nullopt), Key("0001", kGuid, kInstance)},
                 true,
                 kFind},
        MbimCase{"KeyThatDoesNotOpenIsPassedOver",
                 {Adapter(kGuid, 243)},
                 {[] {
                    FakeDriverKey k = Key("0000", kGuid, "USB\\VID_2C7C&PID_0125\\1");
                    k.opens = false;
                    return k;
                  }(),
                  Key("0001", kGuid, kInstance)},
                 true,
                 kFind},
        MbimCase{"ForeignVendor",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "USB\\VID_2C7C&PID_0B41&MI_04\\1")},
                 false,
                 kNoVid},
        MbimCase{"OtherProduct",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "USB\\VID_7A3F&PID_0B43&MI_0C\\1")},
                 false,
                 kNoPid},
        MbimCase{"PciInstanceIdHasNoVid",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "PCI\\VEN_7A3F&DEV_0B41&SUBSYS_00000000&REV_00\\4&1")},
                 false,
                 kNoVid},
        MbimCase{"EmptyInstanceId",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "")},
                 false,
                 kNoHardwareId},
        // Ids are held in 128 bytes: 127 characters fit, longer ones are refused.
        MbimCase{"InstanceIdOf127Characters",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "USB\\VID_7A3F&PID_0B41\\" + std::string(127 - 22, 'S'))},
                 true,
                 kFind},
        MbimCase{"InstanceIdOf128CharactersIsRefused",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid, "USB\\VID_7A3F&PID_0B41\\" + std::string(128 - 22, 'S'))},
                 false,
                 kNoHardwareId},
        // Values are read into 256 bytes; a longer one cannot be read at all.
        MbimCase{"NetCfgInstanceIdTooLongForItsBuffer",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid + std::string(256 - 38, ' '), kInstance)},
                 false,
                 kNoHardwareId},
        MbimCase{"NetCfgInstanceIdFillingItsBuffer",
                 {Adapter(kGuid, 243)},
                 {Key("0000", kGuid + std::string(255 - 38, ' '), kInstance)},
                 true,
                 kFind},
        // Adapter names are held in 256 bytes: 255 characters fit, longer ones count as none.
        MbimCase{"AdapterNameOf255Characters",
                 {Adapter(kGuid + std::string(255 - 38, 'x'), 243)},
                 {Key("0000", kGuid + std::string(255 - 38, 'x'), kInstance)},
                 true,
                 kFind},
        MbimCase{"AdapterNameOf256CharactersIsRefused",
                 {Adapter(kGuid + std::string(256 - 38, 'x'), 243)},
                 {Key("0000", kGuid + std::string(256 - 38, 'x'), kInstance)},
                 false,
                 kNoAdapter},
        MbimCase{"EmptyAdapterNameCountsAsNone",
                 {Adapter("", 243)},
                 {Key("0000", "", kInstance)},
                 false,
                 kNoAdapter}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST_F(DeviceHelperTest, MbimMatchLogsEveryStep) {
  devices_.adapters = {Adapter(kOtherGuid, 6), Adapter(kGuid, 243, 7)};
  devices_.driver_keys = {Key("0000", kOtherGuid, "PCI\\VEN_8086&DEV_15F3\\3"),
                          Key("0001", kGuid, "usb\\vid_7a3f&pid_0b41&mi_0c\\6&1a")};
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_TRUE(CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found));
  EXPECT_EQ(found, 1);
  EXPECT_THAT(
      capture.Lines(),
      ElementsAre(
          "T h : + CDeviceHelper::IsTessaryMBIMDevcieExist",
          "T i :   Adapters Info: adapter name = {8B2C4F1E-7A3D-4E5F-9A1B-2C3D4E5F6A7B}, adapter "
          "desc = Generic Mobile Broadband Adapter, friend name=Cellular",
          "T i :   mbim oper status = 7 (1 IfOperStatusUp ; 2 IfOperStatusDown ; 3 "
          "IfOperStatusTesting ; 4 IfOperStatusUnknown ; 5 IfOperStatusDormant ; 6 "
          "IfOperStatusNotPresent ;7 IfOperStatusLowerLayerDown)",
          "T i :   Get Instance Id USB\\VID_7A3F&PID_0B41&MI_0C\\6&1A",
          "T i :   find MBIM device : USB\\VID_7A3F&PID_0B41&MI_0C\\6&1A",
          "T i :   IsTessaryMBIMDevcieExist VID_7A3F 0B41;0B42;0B47;0B49;0B4A find ",
          "T h : - CDeviceHelper::IsTessaryMBIMDevcieExist"));
  // The walk stops at the key that names the adapter.
  EXPECT_THAT(devices_.queried, ElementsAre("0000/NetCfgInstanceId", "0001/NetCfgInstanceId",
                                            "0001/DeviceInstanceID"));
}

TEST_F(DeviceHelperTest, MbimAsksForTheSizeWithUnspecThenListsInet) {
  devices_.adapter_list_size = 15000;
  std::uint8_t found = 0;
  CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found);
  EXPECT_THAT(devices_.size_requests, ElementsAre(0u, 0u));
  // AF_INET, GAA_FLAG_SKIP_MULTICAST, into a buffer of the size asked for.
  EXPECT_THAT(devices_.list_requests, ElementsAre(2u, 2u, 15000u));
}

TEST_F(DeviceHelperTest, MbimFailedListCallEndsAsNoAdapter) {
  devices_.adapters = {Adapter(kGuid, 243)};
  devices_.adapter_status = OsStatus::Of(OsOutcome::kDoesNotFit);  // ERROR_BUFFER_OVERFLOW
  devices_.driver_keys = {Key("0000", kGuid, kInstance)};
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found));
  EXPECT_THAT(capture.Lines(), ElementsAre("T h : + CDeviceHelper::IsTessaryMBIMDevcieExist",
                                           "T i :   not get adapter,return ",
                                           "T h : - CDeviceHelper::IsTessaryMBIMDevcieExist"));
}

TEST_F(DeviceHelperTest, MbimClassKeyThatDoesNotOpen) {
  devices_.adapters = {Adapter(kGuid, 243)};
  devices_.class_key_opens = false;
  devices_.driver_keys = {Key("0000", kGuid, kInstance)};
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found));
  const auto lines = capture.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "T i :   not get hardware id,return");
  EXPECT_TRUE(devices_.queried.empty());
}

TEST_F(DeviceHelperTest, MbimEnumerationErrorEndsTheWalk) {
  devices_.adapters = {Adapter(kGuid, 243)};
  devices_.driver_keys = {Key("0000", kOtherGuid, kInstance), Key("0001", kGuid, kInstance)};
  devices_.enum_error_at = 1;
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found));
  EXPECT_THAT(devices_.queried, ElementsAre("0000/NetCfgInstanceId"));
}

TEST_F(DeviceHelperTest, MbimEmptyInstanceIdIsStillReported) {
  devices_.adapters = {Adapter(kGuid, 243)};
  devices_.driver_keys = {Key("0000", kGuid, "")};
  LogCapture capture;
  std::uint8_t found = 0;
  EXPECT_FALSE(CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found));
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "T i :   Get Instance Id ");
  EXPECT_EQ(lines[4], "T i :   not get hardware id,return");
}

TEST_F(DeviceHelperTest, MbimUnterminatedValuesStayInsideTheirBuffer) {
  devices_.adapters = {Adapter(kGuid, 243)};
  FakeDriverKey k;
  k.name = "0000";
  // 256 bytes each, none of them zero.
  k.net_cfg_instance_id = Bytes(kGuid, kGuid + 38);
  k.net_cfg_instance_id->resize(256, 'g');
  k.device_instance_id = Bytes(256, 'I');
  devices_.driver_keys = {k};
  std::uint8_t found = 0;
  EXPECT_FALSE(
      CDeviceHelper::IsTessaryMBIMDevcieExist(devices_, found));  // a 256-character id is refused
}

}  // namespace
}  // namespace halvorn
