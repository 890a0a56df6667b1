// Finding the modem's MBIM control port: a cdc-wdm port whose USB interface is driven by
// cdc_mbim, or a WWAN port of MBIM type (wwan0mbim0). Other cdc-wdm ports (QMI, AT) are not
// MBIM and are never chosen.

#ifndef HALVORN_MBN_LINUX_MBIM_PORTS_H_
#define HALVORN_MBN_LINUX_MBIM_PORTS_H_

#include <libudev.h>

#include <string>
#include <vector>

namespace halvorn::mbn_linux {

// Operator setting: names the control port when udev does not know it (a device node or a
// link to one). When set, udev is not consulted.
inline constexpr const char* kPortVariable = "HALVORN_MBIM_PORT";

// The udev subsystems that carry MBIM control ports.
inline constexpr const char* kCdcWdmSubsystem = "usbmisc";
inline constexpr const char* kWwanSubsystem = "wwan";

// True when `device` is an MBIM control port.
bool IsMbimControlPort(udev_device* device);

// The device nodes of every MBIM control port udev knows, sorted by name. Empty when udev
// cannot be asked.
std::vector<std::string> ListMbimControlPorts();

// The modem's control port: $HALVORN_MBIM_PORT when set, otherwise the first port udev knows.
// Empty when there is none, or when the named port is not a character device.
std::string FindDefaultMbimPort();

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_MBIM_PORTS_H_
