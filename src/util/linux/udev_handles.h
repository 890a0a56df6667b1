// Owners of libudev objects: a context, an enumeration, a device and a monitor. Only Linux
// backend files and tests include it.

#ifndef HALVORN_UTIL_LINUX_UDEV_HANDLES_H_
#define HALVORN_UTIL_LINUX_UDEV_HANDLES_H_

#include <libudev.h>

#include <memory>

namespace halvorn {

struct UdevUnref {
  void operator()(udev* p) const { udev_unref(p); }
  void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
  void operator()(udev_device* p) const { udev_device_unref(p); }
  void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};

using ScopedUdev = std::unique_ptr<udev, UdevUnref>;
using ScopedUdevEnumerate = std::unique_ptr<udev_enumerate, UdevUnref>;
using ScopedUdevDevice = std::unique_ptr<udev_device, UdevUnref>;
using ScopedUdevMonitor = std::unique_ptr<udev_monitor, UdevUnref>;

}  // namespace halvorn

#endif  // HALVORN_UTIL_LINUX_UDEV_HANDLES_H_
