// A stand-in for the IP Helper adapter list of the Windows device platform
// (src/device/win/adapters_win.h) for programs run under Wine, which has no mobile-broadband
// adapter and no way to make one: a program links halvorn_win_stand_in_adapters in place of
// halvorn_device_adapters, and SystemDevicePlatform() then reports the adapters of
// StandInAdapters() with the system's devices and network-class key.

#ifndef HALVORN_TESTS_DEVICE_WIN_STAND_IN_ADAPTERS_H_
#define HALVORN_TESTS_DEVICE_WIN_STAND_IN_ADAPTERS_H_

#include <vector>

#include "device/device_platform.h"

namespace halvorn::testing {

// The adapters reported: at first an Ethernet adapter and the vendor modem's interface
// (successful_run_log.h), matching the SetupAPI device and driver key the tests create.
std::vector<device_platform::AdapterRecord>& StandInAdapters();

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_DEVICE_WIN_STAND_IN_ADAPTERS_H_
