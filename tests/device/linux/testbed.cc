#include "device/linux/testbed.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <umockdev.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace halvorn::testing {
namespace {

struct GFree {
  void operator()(gchar* p) const { g_free(p); }
};
using ScopedGChar = std::unique_ptr<gchar, GFree>;

std::vector<const gchar*> NullTerminated(const std::vector<std::string>& pairs) {
  std::vector<const gchar*> out;
  for (const std::string& s : pairs) {
    out.push_back(s.c_str());
  }
  out.push_back(nullptr);
  return out;
}

}  // namespace

Testbed::Testbed() : bed_(umockdev_testbed_new()) {}

Testbed::~Testbed() {
  g_object_unref(bed_);
}

bool Testbed::Preloaded() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::string(preload).find("umockdev") != std::string::npos;
}

std::string Testbed::Add(const std::string& subsystem,
                         const std::string& name,
                         const std::string& parent,
                         const std::vector<std::string>& attributes,
                         const std::vector<std::string>& properties) {
  std::vector<const gchar*> attrs = NullTerminated(attributes);
  std::vector<const gchar*> props = NullTerminated(properties);
  ScopedGChar path(umockdev_testbed_add_devicev(
      bed_, subsystem.c_str(), name.c_str(), parent.empty() ? nullptr : parent.c_str(),
      const_cast<gchar**>(attrs.data()), const_cast<gchar**>(props.data())));
  return path ? std::string(path.get()) : std::string();
}

std::string Testbed::AddUsbHost() {
  const std::string xhci =
      Add("pci", "0000:00:14.0", "",
          {"vendor", "0x8086", "device", "0xa0ed", "subsystem_vendor", "0x17aa", "subsystem_device",
           "0x22d8", "revision", "0x20", "class", "0x0c0330"},
          {"PCI_SLOT_NAME", "0000:00:14.0", "DRIVER", "xhci_hcd"});
  return Add("usb", "usb2", xhci,
             {"idVendor", "1d6b", "idProduct", "0003", "bcdDevice", "0515", "product",
              "xHCI Host Controller"},
             {"DEVTYPE", "usb_device", "DRIVER", "usb"});
}

Testbed::UsbModem Testbed::PlugUsbModem(const std::string& hub,
                                        const std::string& port,
                                        const std::string& vid,
                                        const std::string& pid,
                                        const std::string& ifname,
                                        int ifindex) {
  const std::string dev = Add("usb", port, hub,
                              {"idVendor", vid, "idProduct", pid, "bcdDevice", "0318", "product",
                               "LTE Module", "serial", "0123456789ABCDEF"},
                              {"DEVTYPE", "usb_device", "DRIVER", "usb"});
  const std::string control =
      Add("usb", port + ":1.12", dev,
          {"bInterfaceNumber", "0c", "bInterfaceClass", "02", "bInterfaceSubClass", "0e",
           "interface", "Mobile Broadband Interface Model"},
          {"DEVTYPE", "usb_interface", "DRIVER", "cdc_mbim"});
  Add("usb", port + ":1.13", dev, {"bInterfaceNumber", "0d", "bInterfaceClass", "0a"},
      {"DEVTYPE", "usb_interface", "DRIVER", "cdc_mbim"});
  const std::string port_name = "cdc-wdm" + std::to_string(ifindex);
  const std::string control_port =
      Add("usbmisc", port_name, control, {}, {"DEVNAME", "/dev/" + port_name});
  Add("net", ifname, control,
      {"ifindex", std::to_string(ifindex), "operstate", "down", "type", "1"},
      {"DEVTYPE", "wwan", "INTERFACE", ifname, "ID_NET_DRIVER", "cdc_mbim"});
  return {dev, control, control_port};
}

std::string Testbed::AddPciModem(const std::string& slot,
                                 const std::string& vendor,
                                 const std::string& device,
                                 const std::string& ifname,
                                 int ifindex) {
  const std::string pci = Add("pci", slot, "",
                              {"vendor", vendor, "device", device, "subsystem_vendor", vendor,
                               "subsystem_device", device, "revision", "0x00", "class", "0x0d4000"},
                              {"PCI_SLOT_NAME", slot, "DRIVER", "mhi-pci-generic"});
  const std::string mhi = Add("mhi", "mhi0", pci, {}, {});
  Add("wwan", "wwan0mbim0", mhi, {}, {"DEVNAME", "/dev/wwan0mbim0"});
  Add("net", ifname, mhi, {"ifindex", std::to_string(ifindex), "operstate", "up", "type", "519"},
      {"DEVTYPE", "wwan", "INTERFACE", ifname});
  return pci;
}

void Testbed::AddOtherNetworking() {
  Add("net", "lo", "", {"ifindex", "1", "operstate", "unknown", "type", "772"},
      {"INTERFACE", "lo"});
  const std::string nic =
      Add("pci", "0000:00:1f.6", "",
          {"vendor", "0x8086", "device", "0x15fc", "subsystem_vendor", "0x17aa", "subsystem_device",
           "0x22d8", "revision", "0x20", "class", "0x020000"},
          {"PCI_SLOT_NAME", "0000:00:1f.6", "ID_MODEL_FROM_DATABASE", "Ethernet Connection"});
  Add("net", "eth0", nic, {"ifindex", "2", "operstate", "up", "type", "1"}, {"INTERFACE", "eth0"});
}

void Testbed::BindUsbDriver(const std::string& syspath, const std::string& driver) {
  ScopedGChar sys(umockdev_testbed_get_sys_dir(bed_));
  ScopedGChar drivers(
      g_build_filename(sys.get(), "bus", "usb", "drivers", driver.c_str(), nullptr));
  g_mkdir_with_parents(drivers.get(), 0755);
  // syspath starts with /sys, as does the test bed's sys folder.
  ScopedGChar root(g_path_get_dirname(sys.get()));
  ScopedGChar link(g_build_filename(root.get(), syspath.c_str(), "driver", nullptr));
  g_unlink(link.get());
  symlink(drivers.get(), link.get());
}

void Testbed::Uevent(const std::string& syspath, const char* action) {
  umockdev_testbed_uevent(bed_, syspath.c_str(), action);
}

void Testbed::WriteSysFile(const std::string& relative_path,
                           const std::vector<std::uint8_t>& bytes) {
  ScopedGChar sys(umockdev_testbed_get_sys_dir(bed_));
  ScopedGChar path(g_build_filename(sys.get(), relative_path.c_str(), nullptr));
  ScopedGChar dir(g_path_get_dirname(path.get()));
  g_mkdir_with_parents(dir.get(), 0755);
  g_file_set_contents(path.get(), reinterpret_cast<const gchar*>(bytes.data()),
                      static_cast<gssize>(bytes.size()), nullptr);
}

}  // namespace halvorn::testing
