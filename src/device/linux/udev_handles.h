// Owning handles for libudev objects.

#ifndef HALVORN_DEVICE_LINUX_UDEV_HANDLES_H_
#define HALVORN_DEVICE_LINUX_UDEV_HANDLES_H_

#include <libudev.h>

#include <memory>

namespace halvorn::udev_handles {

struct UdevUnref {
  void operator()(udev* p) const { udev_unref(p); }
  void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
  void operator()(udev_device* p) const { udev_device_unref(p); }
};

using ScopedUdev = std::unique_ptr<udev, UdevUnref>;
using ScopedEnumerate = std::unique_ptr<udev_enumerate, UdevUnref>;
using ScopedDevice = std::unique_ptr<udev_device, UdevUnref>;

}  // namespace halvorn::udev_handles

#endif  // HALVORN_DEVICE_LINUX_UDEV_HANDLES_H_
