// Finds the vendor's modem among the machine's devices: from the device side (the first
// present device whose first hardware id names the vendor and a modem product) and from
// the network side (the mobile-broadband adapter, followed through the network-class
// registry to the device instance behind it).

#ifndef HALVORN_DEVICE_DEVICE_HELPER_H_
#define HALVORN_DEVICE_DEVICE_HELPER_H_

#include <cstdint>
#include <string>

namespace halvorn {

class DevicePlatform;

// Both operations ask `devices` (SystemDevicePlatform() in the service) for the raw facts;
// every list and key they obtain is released before they return.
class CDeviceHelper {
 public:
  static constexpr const char* kVendorPattern = "VID_7A3F";
  static constexpr const char* kProductIdList = "0B41;0B42;0B47;0B49;0B4A";

  // Limits of the text that the operations hold: ids are at most 127 characters, adapter
  // names at most 255. An id or name that does not fit is refused, never cut: a device
  // whose first hardware id is longer is passed over, a driver key whose DeviceInstanceID
  // is longer is passed over like one whose value cannot be read, and an adapter whose name
  // is longer counts as no adapter. A cut id could carry a product id that the device
  // does not have.
  static constexpr std::size_t kMaxIdLength = 127;
  static constexpr std::size_t kMaxAdapterNameLength = 255;

  // Walks the present devices of `devices` in list order and sets `hwid` to the first string
  // of the hardware id list of the first device that has a description and power data and
  // whose first hardware id contains "VID_7A3F" and one of the product ids (case-sensitive).
  // Returns 0 then; returns 3, with `hwid` untouched, when none matches or the list cannot
  // be obtained.
  static int GetTessaryHwid(DevicePlatform& devices, std::string& hwid);

  // Takes the first mobile-broadband adapter (IfType 243) of `devices`, finds the driver key
  // whose NetCfgInstanceId names it and checks its DeviceInstanceID (upper-cased) for
  // "VID_7A3F" and one of the product ids. Returns true and sets `found` to 1 when the
  // modem is the vendor's; returns false and leaves `found` alone otherwise.
  static bool IsTessaryMBIMDevcieExist(DevicePlatform& devices, std::uint8_t& found);
};

}  // namespace halvorn

#endif  // HALVORN_DEVICE_DEVICE_HELPER_H_
