// UTF-16LE, the encoding of Windows' wide text on disk and on the wire (registry exports,
// device properties, event-log records), to and from this build's wide strings: wchar_t is
// one UTF-16 unit on Windows and one code point on Linux.

#ifndef HALVORN_UTIL_UTF16LE_H_
#define HALVORN_UTIL_UTF16LE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvorn {

// Appends `text` as UTF-16LE units, without a terminator. A code point above U+FFFF of a
// 32-bit wchar_t becomes its surrogate pair; a 16-bit wchar_t is written as it is.
void AppendUtf16Le(std::wstring_view text, std::vector<std::uint8_t>* out);

// Every whole UTF-16LE unit of `bytes` (zero units included; an odd last byte is ignored) as
// a wide string. For a 32-bit wchar_t a surrogate pair becomes its code point; a lone
// surrogate stays as it is.
std::wstring WideFromUtf16Le(std::span<const std::uint8_t> bytes);

}  // namespace halvorn

#endif  // HALVORN_UTIL_UTF16LE_H_
