// Raw SMBIOS data on Linux: the kernel publishes the firmware's structure table and its
// entry point under /sys/firmware/dmi/tables (readable by root only).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "auth/firmware_platform.h"
#include "auth/raw_smbios.h"
#include "util/linux/scoped_fd.h"

namespace halvorn {
namespace {

constexpr const char* kEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
constexpr const char* kTablePath = "/sys/firmware/dmi/tables/DMI";
// SMBIOS 3 tables may reach 4 GiB in theory; real ones are a few KiB. Reading stops here.
constexpr std::size_t kMaxFileSize = 16u << 20;

// The whole file (sysfs files report no useful size, so it is read to its end). Empty on
// any failure.
std::vector<std::uint8_t> ReadWholeFile(const char* path) {
  ScopedFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.is_valid()) {
    return {};
  }
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 || data.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
      return {};
    }
    if (n == 0) {
      return data;
    }
    data.insert(data.end(), chunk, chunk + n);
  }
}

class LinuxFirmware final : public FirmwarePlatform {
 public:
  std::uint32_t GetRawSmbiosData(std::uint8_t* buffer, std::uint32_t size) override {
    const std::vector<std::uint8_t> raw =
        smbios::AssembleRawSmbiosData(ReadWholeFile(kEntryPointPath), ReadWholeFile(kTablePath));
    const auto needed = static_cast<std::uint32_t>(raw.size());
    if (buffer == nullptr || size < needed) {
      return needed;
    }
    std::memcpy(buffer, raw.data(), raw.size());
    return needed;
  }
};

}  // namespace

FirmwarePlatform& SystemFirmwarePlatform() {
  static LinuxFirmware firmware;
  return firmware;
}

}  // namespace halvorn
