#include "auth/systeminfo.h"

#include <cstdint>
#include <memory>
#include <new>
#include <span>

#include "auth/firmware_platform.h"
#include "auth/smbios.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

constexpr const char* kFccTag = "Systeminfo::isFccMode";

struct RawData {
  std::uint32_t size = 0;     // what the first call asked for
  std::uint32_t written = 0;  // what the second call delivered
  std::unique_ptr<std::uint8_t[]> bytes;

  // The bytes that were written, never more than were allocated.
  std::span<const std::uint8_t> Delivered() const {
    if (!bytes) {
      return {};
    }
    return {bytes.get(), written < size ? written : size};
  }

  // The delivered bytes, or nothing when the read was incomplete: a short read is never
  // parsed, and no byte past those written is ever looked at.
  std::span<const std::uint8_t> Complete() const {
    if (!bytes || size == 0 || written != size) {
      return {};
    }
    return {bytes.get(), written};
  }
};

// Asks for the size, allocates it and asks for the data. An allocation failure leaves
// `bytes` null and `written` 0.
RawData ReadRawSmbiosData(FirmwarePlatform& firmware) {
  RawData raw;
  raw.size = firmware.GetRawSmbiosData(nullptr, 0);
  if (raw.size == 0) {
    return raw;
  }
  raw.bytes.reset(new (std::nothrow) std::uint8_t[raw.size]);
  if (!raw.bytes) {
    return raw;
  }
  raw.written = firmware.GetRawSmbiosData(raw.bytes.get(), raw.size);
  return raw;
}

}  // namespace

Systeminfo::Systeminfo(FirmwarePlatform& firmware) : firmware_(firmware) {
  const RawData raw = ReadRawSmbiosData(firmware_);
  const std::span<const std::uint8_t> data = raw.Complete();
  if (data.empty()) {
    return;
  }
  smbios::SystemInformation info;
  if (!smbios::ReadSystemInformation(smbios::StructureTable(data), &info)) {
    return;
  }
  family = std::move(info.family);
  manufacturer = std::move(info.manufacturer);
  productName = std::move(info.productName);
  serialNumber = std::move(info.serialNumber);
  skuNumber = std::move(info.skuNumber);
  uuid = std::move(info.uuid);
  version = std::move(info.version);
}

bool Systeminfo::isFccMode() {
  const auto marker = smbios::FccModeMarker();
  const RawData raw = ReadRawSmbiosData(firmware_);
  const std::span<const std::uint8_t> data = raw.Complete();
  LogHelper::Print(LogInfo, kFccTag, "smBiosDataSize:%d, bytesWritten:%d smBiosData->Length:%d \n",
                   raw.size, raw.written, smbios::DeclaredTableLength(raw.Delivered()));
  if (data.empty()) {
    return false;
  }
  return smbios::HasFccModeMarker(smbios::StructureTable(data), marker);
}

}  // namespace halvorn
