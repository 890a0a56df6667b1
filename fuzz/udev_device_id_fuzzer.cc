// Fuzzes the making of Windows-format device ids from sysfs attribute strings (the Linux device
// backend's ids of USB devices, USB interfaces and PCI functions).
//
// The input is one selector byte (bit 0: PCI function, else USB; bit 1: a USB interface) and
// then the attribute strings, separated by NUL bytes, in the order of the attribute structures
// (device_ids.h); missing ones are empty.
//
// Besides the sanitizers' findings it checks the ids against what their readers expect: every
// hardware id is printable ASCII and begins with "USB\VID_" or "PCI\VEN_" and four upper-case
// hex digits; the instance id is the id it is documented to be made from, a backslash and the
// sysfs name; and the platform verification's parse of the first hardware id gives the modem id
// of the attributes (vendor and product id, or device and subsystem id), eight hex digits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "auth/platform_verification.h"
#include "device/linux/device_ids.h"
#include "util/printf_format.h"

namespace {

namespace dp = halvorn::device_platform;

bool IsUpperHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void CheckIds(const dp::DeviceIds& ids,
              std::string_view prefix,
              const std::string& instance_base,
              const std::string& sysname,
              const std::string& modem_id) {
  if (ids.hardware_ids.empty()) {
    std::abort();
  }
  for (const std::string& id : ids.hardware_ids) {
    if (id.compare(0, prefix.size(), prefix) != 0 || id.size() < prefix.size() + 4) {
      std::abort();  // not a Windows id of this bus
    }
    for (std::size_t i = prefix.size(); i < prefix.size() + 4; ++i) {
      if (!IsUpperHex(id[i])) {
        std::abort();
      }
    }
    for (char c : id) {
      if (c < 0x21 || c > 0x7E) {
        std::abort();  // a hardware id is printable ASCII
      }
    }
  }
  if (ids.instance_id != instance_base + "\\" + sysname) {
    std::abort();
  }
  std::string parsed;
  if (!halvorn::parseDeviceHwid(ids.hardware_ids.front(), parsed) || parsed != modem_id) {
    std::abort();  // the id does not read back to the device it names
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::uint8_t selector = data[0];
  std::vector<std::string> fields;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  while (fields.size() < 7) {
    const std::size_t nul = rest.find('\0');
    fields.emplace_back(rest.substr(0, nul));
    rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
  }

  if ((selector & 1) != 0) {
    dp::PciAttributes a{fields[0], fields[1], fields[2], fields[3],
                        fields[4], fields[5], fields[6]};
    const auto ids = dp::PciDeviceIds(a);
    if (ids) {
      const std::string modem_id = halvorn::StrPrintf("%04X%04X", *dp::SysfsHex(a.device, 0xFFFF),
                                                      *dp::SysfsHex(a.subsystem_device, 0xFFFF));
      CheckIds(*ids, "PCI\\VEN_", ids->hardware_ids.front(), a.sysname, modem_id);
    }
  } else {
    dp::UsbAttributes a;
    a.is_interface = (selector & 2) != 0;
    a.id_vendor = fields[0];
    a.id_product = fields[1];
    a.bcd_device = fields[2];
    a.interface_number = fields[3];
    a.sysname = fields[4];
    const auto ids = dp::UsbDeviceIds(a);
    if (ids) {
      const std::string modem_id = halvorn::StrPrintf(
          "%04X%04X", *dp::SysfsHex(a.id_vendor, 0xFFFF), *dp::SysfsHex(a.id_product, 0xFFFF));
      if (ids->hardware_ids.size() < 2) {
        std::abort();
      }
      CheckIds(*ids, "USB\\VID_", ids->hardware_ids[1], a.sysname, modem_id);
    }
  }
  return 0;
}
