// Registry access of the running build: the Windows registry, or on Linux a registry file in
// the Windows ".reg" export format (registry_text.h). Raw results only; the reader in
// registry.cc decides and logs.

#ifndef HALVORN_UTIL_REGISTRY_PLATFORM_H_
#define HALVORN_UTIL_REGISTRY_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>

#include "util/os_status.h"

namespace halvorn {

namespace registry_platform {

// The registry's value types that the code names, as the registry stores them and ".reg"
// exports write them. Any other type keeps the number its "hex(<type>):" export gives.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

}  // namespace registry_platform

// An open key; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Queries `name`: on entry *size is the capacity of `data` (data may be null to ask for
  // the size); on return *type and *size describe the value. kNotFound when there is no such
  // value, kDoesNotFit when the data is larger than the capacity.
  virtual OsStatus Query(const std::wstring& name,
                         std::uint32_t* type,
                         std::uint8_t* data,
                         std::uint32_t* size) = 0;
};

class RegistryPlatform {
 public:
  virtual ~RegistryPlatform() = default;
  // Opens HKEY_LOCAL_MACHINE\`sub_key` for reading. kNotFound when there is no such key,
  // kAccessDenied when the registry may not be read, kDamaged when it cannot be.
  virtual OsStatus OpenLocalMachineKey(const std::wstring& sub_key,
                                       std::unique_ptr<RegistryKey>* key) = 0;
};

// The registry of this process's system (win/registry_win.cc, linux/registry_linux.cc).
RegistryPlatform& SystemRegistryPlatform();

}  // namespace halvorn

#endif  // HALVORN_UTIL_REGISTRY_PLATFORM_H_
