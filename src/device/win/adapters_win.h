// The adapter list of the Windows device platform (device_win.cc), on its own: IP Helper in
// adapters_win.cc (library halvorn_device_adapters), which every program links. A program run
// under Wine, which has no mobile-broadband adapter and no way to make one, may link another
// definition of these two in its place (tests/device/win/stand_in_adapters.cc); the rest of the
// platform stays the system's.

#ifndef HALVORN_DEVICE_WIN_ADAPTERS_WIN_H_
#define HALVORN_DEVICE_WIN_ADAPTERS_WIN_H_

#include <cstdint>
#include <span>
#include <vector>

#include "device/device_platform.h"

namespace halvorn::device_win {

// DevicePlatform::GetAdapterListSize and DevicePlatform::GetAdapterList, with their contracts.
std::uint32_t AdapterListSize(std::uint32_t family, std::uint32_t flags);
OsStatus ListAdapters(std::uint32_t family,
                      std::uint32_t flags,
                      std::span<std::uint8_t> buffer,
                      std::vector<device_platform::AdapterRecord>* adapters);

}  // namespace halvorn::device_win

#endif  // HALVORN_DEVICE_WIN_ADAPTERS_WIN_H_
