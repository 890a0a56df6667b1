// Registry access of the running build: the Windows registry, or on Linux a registry file in
// the Windows ".reg" export format. Raw results only; the reader in registry.cc decides and
// logs.

#ifndef HALVORN_UTIL_REGISTRY_PLATFORM_H_
#define HALVORN_UTIL_REGISTRY_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>

namespace halvorn::registry_platform {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

inline constexpr std::uintptr_t kLocalMachineHandle = 0x80000002;
inline constexpr std::uint32_t kKeyRead = 0x20019;

// An open key; closed when destroyed.
class Key {
 public:
  virtual ~Key() = default;
  // Queries `name`: on entry *size is the capacity of `data` (data may be null to ask for
  // the size); on return *type and *size describe the value. Returns 0 or a system error
  // code (2: no such value, 234: data does not fit), which it also leaves as the thread's
  // last error.
  virtual long Query(const std::wstring& name,
                     std::uint32_t* type,
                     std::uint8_t* data,
                     std::uint32_t* size) = 0;
};

// Opens HKEY_LOCAL_MACHINE\`sub_key` for reading. Returns 0 and the key, or a system error
// code (2: no such key), which it also leaves as the thread's last error.
long OpenLocalMachineKey(const std::wstring& sub_key, std::unique_ptr<Key>* key);

}  // namespace halvorn::registry_platform

#endif  // HALVORN_UTIL_REGISTRY_PLATFORM_H_
