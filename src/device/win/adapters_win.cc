// The network adapter list on Windows, from IP Helper.

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "device/win/adapters_win.h"
#include "util/win/os_status_win.h"

namespace halvorn::device_win {

std::uint32_t AdapterListSize(std::uint32_t family, std::uint32_t flags) {
  ULONG size = 0;
  ::GetAdaptersAddresses(family, flags, nullptr, nullptr, &size);
  return size;
}

OsStatus ListAdapters(std::uint32_t family,
                      std::uint32_t flags,
                      std::span<std::uint8_t> buffer,
                      std::vector<device_platform::AdapterRecord>* adapters) {
  ULONG size = static_cast<ULONG>(buffer.size());
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  const ULONG rc =
      ::GetAdaptersAddresses(family, flags, nullptr, size != 0 ? first : nullptr, &size);
  if (rc != ERROR_SUCCESS) {
    return StatusOfWindowsError(rc);
  }
  adapters->clear();
  for (const IP_ADAPTER_ADDRESSES* a = size != 0 ? first : nullptr; a != nullptr; a = a->Next) {
    device_platform::AdapterRecord record;
    record.adapter_name = a->AdapterName != nullptr ? a->AdapterName : "";
    record.description = a->Description != nullptr ? a->Description : L"";
    record.friendly_name = a->FriendlyName != nullptr ? a->FriendlyName : L"";
    record.if_type = a->IfType;
    record.oper_status = static_cast<std::uint32_t>(a->OperStatus);
    adapters->push_back(std::move(record));
  }
  return OsStatus::Ok();
}

}  // namespace halvorn::device_win
