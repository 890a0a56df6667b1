#include "device/linux/device_ids.h"

#include <cstdlib>

#include "util/printf_format.h"

namespace halvorn::device_platform {

std::optional<std::uint32_t> SysfsHex(const std::string& text, std::uint32_t max) {
  std::string digits = text;
  while (!digits.empty() && (digits.back() == '\n' || digits.back() == ' ')) {
    digits.pop_back();
  }
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.erase(0, 2);
  }
  if (digits.empty() || digits.size() > 8 ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long value = std::strtoul(digits.c_str(), nullptr, 16);
  if (value > max) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<DeviceIds> UsbDeviceIds(const UsbAttributes& a) {
  const auto vid = SysfsHex(a.id_vendor, 0xFFFF);
  const auto pid = SysfsHex(a.id_product, 0xFFFF);
  const auto rev = SysfsHex(a.bcd_device, 0xFFFF);
  if (!vid || !pid || !rev) {
    return std::nullopt;
  }
  const std::string base = StrPrintf("USB\\VID_%04X&PID_%04X", *vid, *pid);
  DeviceIds ids;
  if (a.is_interface) {
    const auto mi = SysfsHex(a.interface_number, 0xFF);
    if (!mi) {
      return std::nullopt;
    }
    const std::string tail = StrPrintf("&MI_%02X", *mi);
    ids.hardware_ids = {base + StrPrintf("&REV_%04X", *rev) + tail, base + tail};
    ids.instance_id = base + tail + "\\" + a.sysname;
  } else {
    ids.hardware_ids = {base + StrPrintf("&REV_%04X", *rev), base};
    ids.instance_id = base + "\\" + a.sysname;
  }
  return ids;
}

std::optional<DeviceIds> PciDeviceIds(const PciAttributes& a) {
  const auto ven = SysfsHex(a.vendor, 0xFFFF);
  const auto devid = SysfsHex(a.device, 0xFFFF);
  const auto sub_ven = SysfsHex(a.subsystem_vendor, 0xFFFF);
  const auto sub_dev = SysfsHex(a.subsystem_device, 0xFFFF);
  const auto rev = SysfsHex(a.revision, 0xFF);
  const auto cls = SysfsHex(a.class_code, 0xFFFFFF);
  if (!ven || !devid || !sub_ven || !sub_dev || !rev || !cls) {
    return std::nullopt;
  }
  const std::string base = StrPrintf("PCI\\VEN_%04X&DEV_%04X", *ven, *devid);
  const std::string subsys = StrPrintf("&SUBSYS_%04X%04X", *sub_dev, *sub_ven);
  DeviceIds ids;
  ids.hardware_ids = {base + subsys + StrPrintf("&REV_%02X", *rev), base + subsys,
                      base + StrPrintf("&CC_%06X", *cls), base + StrPrintf("&CC_%04X", *cls >> 8)};
  ids.instance_id = base + subsys + StrPrintf("&REV_%02X", *rev) + "\\" + a.sysname;
  return ids;
}

}  // namespace halvorn::device_platform
