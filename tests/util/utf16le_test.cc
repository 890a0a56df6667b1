// UTF-16LE text and little-endian numbers in byte buffers, on both builds (a 16-bit wchar_t on
// Windows, a 32-bit one on Linux).

#include "util/utf16le.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "util/little_endian.h"

namespace halvorn {
namespace {

// The wide form of U+1F600 in this build: one code point, or its surrogate pair.
std::wstring GrinningFace() {
  if constexpr (sizeof(wchar_t) == 2) {
    return {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
  } else {
    return {static_cast<wchar_t>(0x1F600)};
  }
}

TEST(Utf16LeTest, EncodesAndDecodesEveryPlane) {
  struct Case {
    const char* name;
    std::wstring text;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"empty", L"", {}},
      {"ascii", L"VID_7A3F", {'V', 0, 'I', 0, 'D', 0, '_', 0, '7', 0, 'A', 0, '3', 0, 'F', 0}},
      {"latin and a high unit", std::wstring{L'\u00E9', L'\uFFFD'}, {0xE9, 0x00, 0xFD, 0xFF}},
      {"outside the basic plane", L"a" + GrinningFace(), {0x61, 0x00, 0x3D, 0xD8, 0x00, 0xDE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> out = {0xAA};  // appended to, never replaced
    AppendUtf16Le(c.text, &out);
    ASSERT_EQ(out.size(), c.bytes.size() + 1);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 1, out.end()), c.bytes);
    EXPECT_EQ(WideFromUtf16Le(c.bytes), c.text);
  }
}

TEST(Utf16LeTest, DecodingKeepsWhatIsNoPairAndDropsAnOddByte) {
  // A lone high surrogate, then a lone low one: each stays a unit of its own.
  const std::vector<std::uint8_t> lone = {0x3D, 0xD8, 0x41, 0x00, 0x00, 0xDE};
  EXPECT_EQ(WideFromUtf16Le(lone),
            (std::wstring{static_cast<wchar_t>(0xD83D), L'A', static_cast<wchar_t>(0xDE00)}));
  // A zero unit is text like any other; the caller decides where a string ends.
  const std::vector<std::uint8_t> with_zero = {'A', 0, 0, 0, 'B', 0, 'C'};
  EXPECT_EQ(WideFromUtf16Le(with_zero), (std::wstring{L'A', L'\0', L'B'}));
}

TEST(LittleEndianTest, ReadsTheLowByteFirst) {
  const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x84, 0xFF};
  EXPECT_EQ(LoadLe16(bytes.data()), 0x0201u);
  EXPECT_EQ(LoadLe32(bytes.data()), 0x84030201u);
  EXPECT_EQ(LoadLe16(bytes, 3), 0xFF84u);
  EXPECT_EQ(LoadLe32(bytes, 1), 0xFF840302u);
  static_assert(LoadLe32(std::array<std::uint8_t, 4>{0x78, 0x56, 0x34, 0x12}.data()) ==
                0x12345678u);
}

}  // namespace
}  // namespace halvorn
