#include "util/utf16le.h"

#include "util/little_endian.h"

namespace halvorn {

namespace {

// One code point as one UTF-16LE unit, or two (a surrogate pair) above U+FFFF.
void AppendCodePoint(std::uint32_t c, std::vector<std::uint8_t>* out) {
  auto put = [out](std::uint32_t unit) {
    out->push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out->push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  };
  if (c >= 0x10000) {
    c -= 0x10000;
    put(0xD800 + (c >> 10));
    put(0xDC00 + (c & 0x3FF));
  } else {
    put(c);
  }
}

}  // namespace

void AppendUtf16Le(std::wstring_view text, std::vector<std::uint8_t>* out) {
  for (wchar_t wc : text) {
    AppendCodePoint(static_cast<std::uint32_t>(wc), out);
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

std::string Utf8FromCodePoints(std::u32string_view points) {
  std::string out;
  out.reserve(points.size());
  for (char32_t point : points) {
    const auto c = static_cast<std::uint32_t>(point);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back('?');
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u32string CodePointsFromUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t len = b < 0x80           ? 1
                            : (b >> 5) == 0x6  ? 2
                            : (b >> 4) == 0xE  ? 3
                            : (b >> 3) == 0x1E ? 4
                                               : 0;
    if (len == 0 || i + len > text.size()) {
      out.push_back(U'?');
      ++i;
      continue;
    }
    std::uint32_t c = len == 1 ? b : b & (0xFFu >> (len + 1));
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (cont & 0x3Fu);
    }
    static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(U'?');
      ++i;
      continue;
    }
    out.push_back(static_cast<char32_t>(c));
    i += len;
  }
  return out;
}

std::string Utf8FromUtf16Le(std::span<const std::uint8_t> bytes) {
  std::u32string points;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t unit = LoadLe16(bytes.data() + 2 * i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = LoadLe16(bytes.data() + 2 * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    points.push_back(static_cast<char32_t>(unit));
  }
  return Utf8FromCodePoints(points);
}

void AppendUtf16LeFromUtf8(std::string_view text, std::vector<std::uint8_t>* out) {
  for (char32_t point : CodePointsFromUtf8(text)) {
    AppendCodePoint(static_cast<std::uint32_t>(point), out);
  }
}

}  // namespace halvorn
