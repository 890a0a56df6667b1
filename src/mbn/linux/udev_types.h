// Small owners of libudev objects.

#ifndef HALVORN_MBN_LINUX_UDEV_TYPES_H_
#define HALVORN_MBN_LINUX_UDEV_TYPES_H_

#include <libudev.h>

#include <memory>

namespace halvorn::mbn_linux {

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
};
struct UdevDeviceUnref {
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
struct UdevEnumerateUnref {
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
struct UdevMonitorUnref {
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};

using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeviceUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevEnumerateUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevMonitorUnref>;

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_UDEV_TYPES_H_
