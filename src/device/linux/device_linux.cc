// Device discovery on Linux, through libudev (sysfs and the udev database).
//
// Devices: every USB device, USB interface and PCI function is a present device. Its
// hardware ids are synthesised in the Windows format, most specific first:
//   USB device     USB\VID_vvvv&PID_pppp&REV_rrrr, USB\VID_vvvv&PID_pppp
//   USB interface  USB\VID_vvvv&PID_pppp&REV_rrrr&MI_nn, USB\VID_vvvv&PID_pppp&MI_nn
//   PCI function   PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr,
//   PCI\VEN_vvvv&DEV_dddd&SUBSYS_ssssssss,
//                  PCI\VEN_vvvv&DEV_dddd&CC_cccccc, PCI\VEN_vvvv&DEV_dddd&CC_cccc
// and its instance id is the first id without the revision, a backslash and the sysfs name
// ("USB\VID_7A3F&PID_0B41&MI_0C\2-3:1.12"). The description is the hardware database's
// model name, else the device's own product or interface string, else its sysfs name.
//
// Network adapters: every network interface, in ifindex order. A DEVTYPE=wwan interface
// has IfType 243 (IF_TYPE_WWANPP). The adapter name (and the NetCfgInstanceId of its
// driver key) is a braced GUID derived from the interface's device path by a 128-bit
// FNV-1a hash, so it is the same at every start while the interface keeps its place and
// name. The DeviceInstanceID of its driver key is the instance id of the nearest USB or
// PCI device above the interface; an interface without one has no such value.
//
// The network-class registry key is a view of the same interfaces: subkeys "0000",
// "0001", ... in adapter order.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "device/device_platform.h"
#include "device/linux/device_ids.h"
#include "util/linux/os_status_linux.h"
#include "util/linux/udev_handles.h"
#include "util/platform.h"
#include "util/printf_format.h"
#include "util/utf16le.h"

namespace halvorn {
namespace {

using device_platform::AdapterRecord;
using device_platform::DeviceIds;
using device_platform::DeviceList;
using device_platform::DeviceProperty;
using device_platform::PciAttributes;
using device_platform::PciDeviceIds;
using device_platform::RegistryKey;
using device_platform::UsbAttributes;
using device_platform::UsbDeviceIds;

constexpr std::uint32_t kIfTypeOther = 1;
constexpr std::uint32_t kIfTypeEthernet = 6;
constexpr std::uint32_t kIfTypeLoopback = 24;
constexpr std::uint32_t kIfTypeIeee80211 = 71;
constexpr std::uint32_t kIfTypeWwanPp = 243;
constexpr std::uint32_t kIfOperStatusUnknown = 4;
constexpr unsigned kArphrdLoopback = 772;
constexpr std::size_t kPowerDataSize = 56;
// A nominal size per adapter record, standing in for the IP_ADAPTER_ADDRESSES layout.
constexpr std::uint32_t kAdapterRecordSize = 448;

std::string Attr(udev_device* dev, const char* name) {
  const char* v = udev_device_get_sysattr_value(dev, name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string Prop(udev_device* dev, const char* name) {
  const char* v = udev_device_get_property_value(dev, name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string Str(const char* s) {
  return s != nullptr ? std::string(s) : std::string();
}

// What Windows would know of one device.
struct Identity {
  std::vector<std::string> hardware_ids;
  std::string instance_id;
  std::string description;
};

std::string FirstNonEmpty(std::initializer_list<std::string> candidates) {
  for (const std::string& c : candidates) {
    if (!c.empty()) {
      return c;
    }
  }
  return {};
}

std::optional<Identity> IdentifyUsb(udev_device* dev) {
  const std::string devtype = Str(udev_device_get_devtype(dev));
  const bool is_interface = devtype == "usb_interface";
  if (!is_interface && devtype != "usb_device") {
    return std::nullopt;
  }
  udev_device* usb =
      is_interface ? udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device") : dev;
  if (usb == nullptr) {
    return std::nullopt;
  }
  UsbAttributes attributes;
  attributes.is_interface = is_interface;
  attributes.id_vendor = Attr(usb, "idVendor");
  attributes.id_product = Attr(usb, "idProduct");
  attributes.bcd_device = Attr(usb, "bcdDevice");
  if (is_interface) {
    attributes.interface_number = Attr(dev, "bInterfaceNumber");
  }
  attributes.sysname = Str(udev_device_get_sysname(dev));
  std::optional<DeviceIds> ids = UsbDeviceIds(attributes);
  if (!ids) {
    return std::nullopt;
  }
  Identity id;
  id.hardware_ids = std::move(ids->hardware_ids);
  id.instance_id = std::move(ids->instance_id);
  id.description = is_interface
                       ? FirstNonEmpty({Attr(dev, "interface"), Prop(dev, "ID_MODEL_FROM_DATABASE"),
                                        Prop(usb, "ID_MODEL_FROM_DATABASE"), attributes.sysname})
                       : FirstNonEmpty({Prop(dev, "ID_MODEL_FROM_DATABASE"), Attr(dev, "product"),
                                        attributes.sysname});
  return id;
}

std::optional<Identity> IdentifyPci(udev_device* dev) {
  PciAttributes attributes;
  attributes.vendor = Attr(dev, "vendor");
  attributes.device = Attr(dev, "device");
  attributes.subsystem_vendor = Attr(dev, "subsystem_vendor");
  attributes.subsystem_device = Attr(dev, "subsystem_device");
  attributes.revision = Attr(dev, "revision");
  attributes.class_code = Attr(dev, "class");
  attributes.sysname = Str(udev_device_get_sysname(dev));
  std::optional<DeviceIds> ids = PciDeviceIds(attributes);
  if (!ids) {
    return std::nullopt;
  }
  Identity id;
  id.hardware_ids = std::move(ids->hardware_ids);
  id.instance_id = std::move(ids->instance_id);
  id.description = FirstNonEmpty({Prop(dev, "ID_MODEL_FROM_DATABASE"), attributes.sysname});
  return id;
}

std::optional<Identity> Identify(udev_device* dev) {
  const std::string subsystem = Str(udev_device_get_subsystem(dev));
  if (subsystem == "usb") {
    return IdentifyUsb(dev);
  }
  if (subsystem == "pci") {
    return IdentifyPci(dev);
  }
  return std::nullopt;
}

// UTF-16LE of UTF-8 text, with its terminating zero unit.
void AppendUtf16(const std::string& text, std::vector<std::uint8_t>* out) {
  AppendUtf16LeFromUtf8(text, out);
  out->push_back(0);
  out->push_back(0);
}

// One CM_POWER_DATA: the most recent state from runtime power management.
std::vector<std::uint8_t> PowerData(udev_device* dev) {
  constexpr std::uint32_t kD0 = 1;
  constexpr std::uint32_t kD3 = 4;
  constexpr std::uint32_t kCapD0D3 = 0x1 | 0x8;
  const std::uint32_t state = Attr(dev, "power/runtime_status") == "suspended" ? kD3 : kD0;
  const std::uint32_t fields[14] = {static_cast<std::uint32_t>(kPowerDataSize),  // PD_Size
                                    state,     // PD_MostRecentPowerState
                                    kCapD0D3,  // PD_Capabilities
                                    0,
                                    0,
                                    0,  // PD_D1Latency, PD_D2Latency, PD_D3Latency
                                    0,
                                    kD0,
                                    kD3,
                                    kD3,
                                    kD3,
                                    kD3,
                                    kD3,  // PD_PowerStateMapping[S0 unspecified..S5]
                                    0};   // PD_DeepestSystemWake
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t f : fields) {
    for (int shift = 0; shift < 32; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(f >> shift));
    }
  }
  return bytes;
}

struct DeviceEntry {
  std::vector<std::uint8_t> description;   // REG_SZ
  std::vector<std::uint8_t> hardware_ids;  // REG_MULTI_SZ
  std::vector<std::uint8_t> power_data;    // CM_POWER_DATA
};

class LinuxDeviceList : public DeviceList {
 public:
  explicit LinuxDeviceList(std::vector<DeviceEntry> entries) : entries_(std::move(entries)) {}

  OsStatus SelectDevice(std::uint32_t index) override {
    if (index >= entries_.size()) {
      selected_ = nullptr;
      return OsStatus::Of(OsOutcome::kNoMoreItems);
    }
    selected_ = &entries_[index];
    return OsStatus::Ok();
  }

  bool ReadProperty(DeviceProperty property, std::span<std::uint8_t> buffer) override {
    if (selected_ == nullptr) {
      return false;
    }
    const std::vector<std::uint8_t>* value = nullptr;
    switch (property) {
      case DeviceProperty::kDeviceDesc:
        value = &selected_->description;
        break;
      case DeviceProperty::kHardwareId:
        value = &selected_->hardware_ids;
        break;
      case DeviceProperty::kDevicePowerData:
        value = &selected_->power_data;
        break;
    }
    if (value == nullptr || value->empty() || value->size() > buffer.size()) {
      return false;
    }
    std::copy(value->begin(), value->end(), buffer.begin());
    return true;
  }

 private:
  std::vector<DeviceEntry> entries_;
  const DeviceEntry* selected_ = nullptr;
};

// Devices of `subsystems`, in the order udev lists them (by sysfs path). A context or
// enumeration that cannot be made is out of memory unless errno says otherwise.
template <class Visit>
OsStatus ForEachDevice(std::initializer_list<const char*> subsystems, Visit visit) {
  ScopedUdev udev(udev_new());
  if (!udev) {
    return errno != 0 ? StatusOfErrno(errno) : OsStatus::Of(OsOutcome::kOutOfMemory);
  }
  ScopedUdevEnumerate enumerate(udev_enumerate_new(udev.get()));
  if (!enumerate) {
    return OsStatus::Of(OsOutcome::kOutOfMemory);
  }
  for (const char* s : subsystems) {
    udev_enumerate_add_match_subsystem(enumerate.get(), s);
  }
  const int rc = udev_enumerate_scan_devices(enumerate.get());
  if (rc < 0) {
    return StatusOfErrno(-rc);
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    ScopedUdevDevice dev(udev_device_new_from_syspath(udev.get(), udev_list_entry_get_name(entry)));
    if (dev) {
      visit(dev.get());
    }
  }
  return OsStatus::Ok();
}

// --- Network interfaces --------------------------------------------------------------

struct NetInterface {
  unsigned long ifindex = 0;
  AdapterRecord adapter;
  std::optional<std::string> device_instance_id;
};

std::string GuidFromPath(const std::string& path) {
  // Two FNV-1a 64-bit hashes with different offset bases give the 128 bits.
  auto fnv = [&path](std::uint64_t hash) {
    for (const char c : path) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001b3ULL;
    }
    return hash;
  };
  const std::uint64_t hi = fnv(0xcbf29ce484222325ULL);
  const std::uint64_t lo = fnv(0x84222325cbf29ce4ULL);
  return StrPrintf("{%08X-%04X-%04X-%04X-%04X%08X}", static_cast<std::uint32_t>(hi >> 32),
                   static_cast<std::uint32_t>(hi >> 16) & 0xFFFF,
                   static_cast<std::uint32_t>(hi) & 0xFFFF,
                   static_cast<std::uint32_t>(lo >> 48) & 0xFFFF,
                   static_cast<std::uint32_t>(lo >> 32) & 0xFFFF, static_cast<std::uint32_t>(lo));
}

std::uint32_t OperStatus(const std::string& operstate) {
  static const char* const kStates[] = {"up",      "down",       "testing",       "unknown",
                                        "dormant", "notpresent", "lowerlayerdown"};
  for (std::uint32_t i = 0; i < std::size(kStates); ++i) {
    if (operstate == kStates[i]) {
      return i + 1;
    }
  }
  return kIfOperStatusUnknown;
}

std::uint32_t IfType(udev_device* dev) {
  const std::string devtype = Str(udev_device_get_devtype(dev));
  if (devtype == "wwan") {
    return kIfTypeWwanPp;
  }
  if (devtype == "wlan") {
    return kIfTypeIeee80211;
  }
  const auto arphrd = Attr(dev, "type");
  if (arphrd == std::to_string(kArphrdLoopback)) {
    return kIfTypeLoopback;
  }
  if (arphrd == "1") {
    return kIfTypeEthernet;
  }
  return kIfTypeOther;
}

OsStatus ListNetInterfaces(std::vector<NetInterface>* out) {
  out->clear();
  const OsStatus rc = ForEachDevice({"net"}, [out](udev_device* dev) {
    NetInterface net;
    const std::string ifindex = Attr(dev, "ifindex");
    net.ifindex = ifindex.empty() ? std::numeric_limits<unsigned long>::max()
                                  : std::strtoul(ifindex.c_str(), nullptr, 10);
    const std::string name = Str(udev_device_get_sysname(dev));
    std::optional<Identity> behind;
    for (udev_device* p = udev_device_get_parent(dev); p != nullptr && !behind;
         p = udev_device_get_parent(p)) {
      behind = Identify(p);
    }
    net.adapter.adapter_name = GuidFromPath(Str(udev_device_get_devpath(dev)));
    net.adapter.description = platform::NarrowToWide(FirstNonEmpty(
        {Prop(dev, "ID_MODEL_FROM_DATABASE"), behind ? behind->description : "", name}));
    net.adapter.friendly_name = platform::NarrowToWide(name);
    net.adapter.if_type = IfType(dev);
    net.adapter.oper_status = OperStatus(Attr(dev, "operstate"));
    if (behind) {
      net.device_instance_id = behind->instance_id;
    }
    out->push_back(std::move(net));
  });
  std::stable_sort(out->begin(), out->end(), [](const NetInterface& a, const NetInterface& b) {
    return a.ifindex < b.ifindex;
  });
  return rc;
}

std::uint32_t NominalSize(const std::vector<NetInterface>& interfaces) {
  std::uint64_t size = 0;
  for (const NetInterface& n : interfaces) {
    size += kAdapterRecordSize + n.adapter.adapter_name.size() + 1 +
            2 * (n.adapter.description.size() + n.adapter.friendly_name.size() + 2);
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A driver key: its values as stored strings.
class DriverKey : public RegistryKey {
 public:
  explicit DriverKey(std::vector<std::pair<std::string, std::string>> values)
      : values_(std::move(values)) {}

  OsStatus EnumSubKey(std::uint32_t, char*, std::uint32_t*) override {
    return OsStatus::Of(OsOutcome::kNoMoreItems);
  }
  OsStatus OpenSubKey(const char*, std::unique_ptr<RegistryKey>*) override {
    return OsStatus::Of(OsOutcome::kNotFound);
  }
  OsStatus QueryValue(const char* name, std::uint8_t* data, std::uint32_t* size) override {
    for (const auto& [value_name, text] : values_) {
      if (!EqualsIgnoringCase(value_name, name)) {
        continue;
      }
      const auto needed = static_cast<std::uint32_t>(text.size() + 1);
      if (data == nullptr || *size < needed) {
        *size = needed;
        return data == nullptr ? OsStatus::Ok() : OsStatus::Of(OsOutcome::kDoesNotFit);
      }
      std::memcpy(data, text.c_str(), needed);
      *size = needed;
      return OsStatus::Ok();
    }
    return OsStatus::Of(OsOutcome::kNotFound);
  }

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

class NetClassKey : public RegistryKey {
 public:
  explicit NetClassKey(std::vector<NetInterface> interfaces) : interfaces_(std::move(interfaces)) {}

  OsStatus EnumSubKey(std::uint32_t index, char* name, std::uint32_t* name_size) override {
    if (index >= interfaces_.size()) {
      return OsStatus::Of(OsOutcome::kNoMoreItems);
    }
    const std::string key = StrPrintf("%04u", index);
    if (*name_size < key.size() + 1) {
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    }
    std::memcpy(name, key.c_str(), key.size() + 1);
    *name_size = static_cast<std::uint32_t>(key.size());
    return OsStatus::Ok();
  }

  OsStatus OpenSubKey(const char* name, std::unique_ptr<RegistryKey>* key) override {
    for (std::uint32_t i = 0; i < interfaces_.size(); ++i) {
      if (StrPrintf("%04u", i) != name) {
        continue;
      }
      const NetInterface& net = interfaces_[i];
      std::vector<std::pair<std::string, std::string>> values = {
          {"NetCfgInstanceId", net.adapter.adapter_name}};
      if (net.device_instance_id) {
        values.emplace_back("DeviceInstanceID", *net.device_instance_id);
      }
      *key = std::make_unique<DriverKey>(std::move(values));
      return OsStatus::Ok();
    }
    return OsStatus::Of(OsOutcome::kNotFound);
  }

  OsStatus QueryValue(const char*, std::uint8_t*, std::uint32_t*) override {
    return OsStatus::Of(OsOutcome::kNotFound);
  }

 private:
  std::vector<NetInterface> interfaces_;
};

class LinuxDevicePlatform final : public DevicePlatform {
 public:
  OsStatus GetPresentDevices(std::unique_ptr<DeviceList>* list) override {
    std::vector<DeviceEntry> entries;
    const OsStatus rc = ForEachDevice({"usb", "pci"}, [&entries](udev_device* dev) {
      std::optional<Identity> id = Identify(dev);
      if (!id) {
        return;
      }
      DeviceEntry entry;
      AppendUtf16(id->description, &entry.description);
      for (const std::string& hwid : id->hardware_ids) {
        AppendUtf16(hwid, &entry.hardware_ids);
      }
      AppendUtf16("", &entry.hardware_ids);  // the empty string that ends the list
      entry.power_data = PowerData(dev);
      entries.push_back(std::move(entry));
    });
    if (!rc.ok()) {
      return rc;
    }
    *list = std::make_unique<LinuxDeviceList>(std::move(entries));
    return OsStatus::Ok();
  }

  std::uint32_t GetAdapterListSize(std::uint32_t /*family*/, std::uint32_t /*flags*/) override {
    std::vector<NetInterface> interfaces;
    ListNetInterfaces(&interfaces);
    return NominalSize(interfaces);
  }

  // Every interface is listed whatever the family: an interface without an IPv4 address
  // is still an adapter, as it is on Windows.
  OsStatus GetAdapterList(std::uint32_t /*family*/,
                          std::uint32_t /*flags*/,
                          std::span<std::uint8_t> buffer,
                          std::vector<AdapterRecord>* adapters) override {
    std::vector<NetInterface> interfaces;
    const OsStatus rc = ListNetInterfaces(&interfaces);
    if (!rc.ok()) {
      return rc;
    }
    if (NominalSize(interfaces) > buffer.size()) {
      return OsStatus::Of(OsOutcome::kDoesNotFit);
    }
    adapters->clear();
    for (NetInterface& n : interfaces) {
      adapters->push_back(std::move(n.adapter));
    }
    return OsStatus::Ok();
  }

  std::unique_ptr<RegistryKey> OpenNetClassKey() override {
    std::vector<NetInterface> interfaces;
    if (!ListNetInterfaces(&interfaces).ok()) {
      return nullptr;
    }
    return std::make_unique<NetClassKey>(std::move(interfaces));
  }
};

}  // namespace

DevicePlatform& SystemDevicePlatform() {
  static LinuxDevicePlatform platform;
  return platform;
}

}  // namespace halvorn
