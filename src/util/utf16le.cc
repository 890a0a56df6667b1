#include "util/utf16le.h"

#include "util/little_endian.h"

namespace halvorn {

void AppendUtf16Le(std::wstring_view text, std::vector<std::uint8_t>* out) {
  auto put = [out](std::uint32_t unit) {
    out->push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out->push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  };
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
}

std::wstring WideFromUtf16Le(std::span<const std::uint8_t> bytes) {
  std::wstring text;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t unit = LoadLe16(bytes.data() + 2 * i);
    if constexpr (sizeof(wchar_t) > 2) {
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
        const std::uint32_t low = LoadLe16(bytes.data() + 2 * (i + 1));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    text.push_back(static_cast<wchar_t>(unit));
  }
  return text;
}

}  // namespace halvorn
