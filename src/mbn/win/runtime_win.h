// The mobile-broadband runtime of the Windows build: Windows.Networking.NetworkOperators and
// Windows.Storage.Streams.DataWriter through their hand-declared ABI (winrt_abi.h).

#ifndef HALVORN_MBN_WIN_RUNTIME_WIN_H_
#define HALVORN_MBN_WIN_RUNTIME_WIN_H_

#include <windows.h>

#include <memory>

#include "mbn/mbn_platform.h"

namespace halvorn::mbn_win {

// Runtime classes activated by name.
inline constexpr wchar_t kModemClassName[] =
    L"Windows.Networking.NetworkOperators.MobileBroadbandModem";
inline constexpr wchar_t kAccountWatcherClassName[] =
    L"Windows.Networking.NetworkOperators.MobileBroadbandAccountWatcher";
inline constexpr wchar_t kDataWriterClassName[] = L"Windows.Storage.Streams.DataWriter";

// How a failed runtime call is reported: E_OUTOFMEMORY as the standard out-of-memory failure
// ("bad allocation", the description the C++ runtime gives std::bad_alloc on Windows), any
// other failure code as a runtime failure.
mbn_platform::CallResult ResultOf(HRESULT hr);

// A runtime with activation-factory caches of its own. The objects it hands out hold their own
// references and stay usable after it is gone. DefaultRuntime() is one that lives for the
// whole process.
std::unique_ptr<mbn_platform::Runtime> CreateWinRuntime();

}  // namespace halvorn::mbn_win

#endif  // HALVORN_MBN_WIN_RUNTIME_WIN_H_
