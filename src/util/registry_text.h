// The Windows ".reg" export format read as the registry it describes: what importing the
// text into an empty registry would leave below HKEY_LOCAL_MACHINE. Portable and free of any
// file access, so that it can be driven with any bytes; the Linux registry backend reads its
// registry file through it.

#ifndef HALVORN_UTIL_REGISTRY_TEXT_H_
#define HALVORN_UTIL_REGISTRY_TEXT_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvorn::registry_text {

struct Value {
  std::uint32_t type = 0;  // the registry's value type (REG_SZ 1, REG_DWORD 4, ...)
  std::vector<std::uint8_t> data;
};
using Values = std::map<std::string, Value>;  // by lower-case name
using Keys = std::map<std::string, Values>;   // by lower-case path below HKLM

// ASCII letters in lower case; key and value names compare in this form.
std::string Lower(std::string s);

// The keys and values below HKEY_LOCAL_MACHINE that importing the text's bytes into an empty
// registry would leave, deletions ("[-key]", "Name"=-) applied in text order. The bytes are
// UTF-16LE with its byte-order mark (regedit's export), or UTF-8 with or without one. nullopt
// when the text does not parse: a damaged file counts as a whole.
std::optional<Keys> ParseRegistryText(std::string_view raw);

// The key HKEY_LOCAL_MACHINE\`sub_key` of a parse (ASCII case ignored, trailing backslashes
// dropped as the registry does); null when there is none. Every level above a written key is
// a key too.
const Values* FindKey(const Keys& keys, std::string_view sub_key);

// The value `name` of a key (ASCII case ignored); null when there is none.
const Value* FindValue(const Values& values, std::string_view name);

}  // namespace halvorn::registry_text

#endif  // HALVORN_UTIL_REGISTRY_TEXT_H_
