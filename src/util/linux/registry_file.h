// The parse of a registry file in the Windows ".reg" export format, as the Linux registry
// (registry_linux.cc) reads it once it has decided that the file may be trusted. Kept apart
// from the file access so that it can be driven with any bytes.

#ifndef HALVORN_UTIL_LINUX_REGISTRY_FILE_H_
#define HALVORN_UTIL_LINUX_REGISTRY_FILE_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::registry_platform {

struct Value {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};
using Values = std::map<std::string, Value>;  // by lower-case name
using Keys = std::map<std::string, Values>;   // by lower-case path below HKLM

// ASCII letters in lower case; key and value names compare in this form.
std::string Lower(std::string s);

// The keys and values below HKEY_LOCAL_MACHINE that importing the file's bytes into an empty
// registry would leave, deletions ("[-key]", "Name"=-) applied in file order. The bytes are
// UTF-16LE with its byte-order mark (regedit's export), or UTF-8 with or without one. nullopt
// when the text does not parse: a damaged file counts as a whole.
std::optional<Keys> ParseRegistryFile(const std::string& raw);

}  // namespace halvorn::registry_platform

#endif  // HALVORN_UTIL_LINUX_REGISTRY_FILE_H_
