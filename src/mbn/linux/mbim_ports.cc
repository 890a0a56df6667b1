#include "mbn/linux/mbim_ports.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "util/linux/udev_handles.h"

namespace halvorn::mbn_linux {

namespace {

bool StartsWith(const char* text, const char* prefix) {
  return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A cdc-wdm port belongs to the driver of its USB interface, its first parent with a driver.
bool IsCdcMbimPort(udev_device* device) {
  for (udev_device* parent = udev_device_get_parent(device); parent != nullptr;
       parent = udev_device_get_parent(parent)) {
    if (const char* driver = udev_device_get_driver(parent)) {
      return std::strcmp(driver, "cdc_mbim") == 0;
    }
  }
  return false;
}

bool IsWwanMbimPort(udev_device* device) {
  // Ports carry their protocol in the "type" attribute; the WWAN device itself has none.
  if (const char* type = udev_device_get_sysattr_value(device, "type")) {
    return std::strcmp(type, "MBIM") == 0;
  }
  return false;
}

}  // namespace

bool IsMbimControlPort(udev_device* device) {
  const char* subsystem = udev_device_get_subsystem(device);
  const char* name = udev_device_get_sysname(device);
  if (subsystem == nullptr || name == nullptr) {
    return false;
  }
  if (std::strcmp(subsystem, kCdcWdmSubsystem) == 0) {
    return StartsWith(name, "cdc-wdm") && IsCdcMbimPort(device);
  }
  if (std::strcmp(subsystem, kWwanSubsystem) == 0) {
    return StartsWith(name, "wwan") && IsWwanMbimPort(device);
  }
  return false;
}

std::vector<std::string> ListMbimControlPorts() {
  std::vector<std::string> ports;
  ScopedUdev context(udev_new());
  if (!context) {
    return ports;
  }
  ScopedUdevEnumerate enumerate(udev_enumerate_new(context.get()));
  if (!enumerate) {
    return ports;
  }
  udev_enumerate_add_match_subsystem(enumerate.get(), kCdcWdmSubsystem);
  udev_enumerate_add_match_subsystem(enumerate.get(), kWwanSubsystem);
  if (udev_enumerate_scan_devices(enumerate.get()) < 0) {
    return ports;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    ScopedUdevDevice device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!device || !IsMbimControlPort(device.get())) {
      continue;
    }
    if (const char* node = udev_device_get_devnode(device.get())) {
      ports.emplace_back(node);
    }
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

std::string FindDefaultMbimPort() {
  if (const char* named = std::getenv(kPortVariable); named != nullptr && *named != '\0') {
    struct stat info {};
    if (::stat(named, &info) != 0 || !S_ISCHR(info.st_mode)) {
      return {};
    }
    return named;
  }
  std::vector<std::string> ports = ListMbimControlPorts();
  return ports.empty() ? std::string() : ports.front();
}

}  // namespace halvorn::mbn_linux
