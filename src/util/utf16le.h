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

// UTF-8 of code points; one beyond U+10FFFF or a surrogate becomes '?'.
std::string Utf8FromCodePoints(std::u32string_view points);

// The code points of UTF-8 text; a byte that starts no valid sequence (cut, overlong, a
// surrogate, beyond U+10FFFF) becomes '?' and decoding goes on at the next byte.
std::u32string CodePointsFromUtf8(std::string_view text);

// UTF-16LE text to UTF-8 and back, the same on every build (whatever the width of wchar_t and
// the system's narrow code page): surrogate pairs are joined, a lone surrogate becomes '?'.
std::string Utf8FromUtf16Le(std::span<const std::uint8_t> bytes);
void AppendUtf16LeFromUtf8(std::string_view text, std::vector<std::uint8_t>* out);

}  // namespace halvorn

#endif  // HALVORN_UTIL_UTF16LE_H_
