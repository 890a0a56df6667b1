// Reading small numeric settings from the local-machine registry.

#ifndef HALVORN_UTIL_REGISTRY_H_
#define HALVORN_UTIL_REGISTRY_H_

#include <cstdint>

namespace halvorn {

class RegistryPlatform;

// Reads the REG_DWORD value `value_name` under HKEY_LOCAL_MACHINE\`sub_key` of `registry` and
// returns its low-order byte. Returns 0 on every failure (missing key or value, another type,
// an empty value), each with its own error line, which carries the Windows error number of
// the failure on every build; a stored 0 and a failure look alike.
std::uint8_t ReadDWORDRegValue(RegistryPlatform& registry,
                               const wchar_t* sub_key,
                               const wchar_t* value_name);

}  // namespace halvorn

#endif  // HALVORN_UTIL_REGISTRY_H_
