// The Windows-format ids of a USB device, USB interface or PCI function, made from its sysfs
// attribute strings (device_linux.cc gathers them through libudev). Kept apart from libudev so
// that the synthesis can be driven with any text.

#ifndef HALVORN_DEVICE_LINUX_DEVICE_IDS_H_
#define HALVORN_DEVICE_LINUX_DEVICE_IDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::device_platform {

// A hexadecimal sysfs value ("7a3f", "0x17cb", "0c", with or without a trailing newline),
// at most `max`; nullopt otherwise.
std::optional<std::uint32_t> SysfsHex(const std::string& text, std::uint32_t max);

// The attributes of a USB device, or of a USB interface and the device it belongs to, as sysfs
// shows them ("" for a missing one).
struct UsbAttributes {
  bool is_interface = false;
  std::string id_vendor;         // idVendor of the device
  std::string id_product;        // idProduct of the device
  std::string bcd_device;        // bcdDevice of the device
  std::string interface_number;  // bInterfaceNumber of the interface
  std::string sysname;           // "2-3" or "2-3:1.12"
};

// The attributes of a PCI function ("" for a missing one).
struct PciAttributes {
  std::string vendor;
  std::string device;
  std::string subsystem_vendor;
  std::string subsystem_device;
  std::string revision;
  std::string class_code;  // class
  std::string sysname;     // "0000:08:00.0"
};

// Hardware ids, most specific first, and the instance id: the first id without its revision,
// a backslash and the sysfs name.
struct DeviceIds {
  std::vector<std::string> hardware_ids;
  std::string instance_id;
};

//   USB device     USB\VID_vvvv&PID_pppp&REV_rrrr, USB\VID_vvvv&PID_pppp
//   USB interface  USB\VID_vvvv&PID_pppp&REV_rrrr&MI_nn, USB\VID_vvvv&PID_pppp&MI_nn
// nullopt when an id attribute is missing or not a hexadecimal number of its width.
std::optional<DeviceIds> UsbDeviceIds(const UsbAttributes& attributes);

//   PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr, PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss,
//   PCI\VEN_vvvv&DEV_dddd&CC_cccccc, PCI\VEN_vvvv&DEV_dddd&CC_cccc
// nullopt when an id attribute is missing or not a hexadecimal number of its width.
std::optional<DeviceIds> PciDeviceIds(const PciAttributes& attributes);

}  // namespace halvorn::device_platform

#endif  // HALVORN_DEVICE_LINUX_DEVICE_IDS_H_
