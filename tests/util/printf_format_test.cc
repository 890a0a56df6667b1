#include "util/printf_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace halvorn {
namespace {

// The expected texts are what the Windows C library prints for the same call.
TEST(PrintfFormatTest, ConversionsWithWindowsMeaning) {
  const std::int64_t big = 0x123456789LL;
  struct Case {
    std::string got;
    const char* want;
  } cases[] = {
      {StrPrintf("%d|%i|%u", -5, 7, 4294967295u), "-5|7|4294967295"},
      {StrPrintf("%08x", 0xbeefu), "0000beef"},
      {StrPrintf("%X", 255), "FF"},
      // "%d" and "%ld" are 32 bits wide, as on Windows: a 64-bit value is cut.
      {StrPrintf("%d", big), "591751049"},
      {StrPrintf("%ld", big), "591751049"},
      {StrPrintf("%I64d|%lld", big, big), "4886718345|4886718345"},
      {StrPrintf("%I64d", std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {StrPrintf("%hd|%hhu", 70000, 300), "4464|44"},
      // An unsigned 64-bit count shown with "%d" takes its low 32 bits, signed.
      {StrPrintf("%d", std::uint64_t{0xFFFFFFFFull}), "-1"},
      {StrPrintf("%.02f|%f|%.4f", 1.005, 86400.0, 0.12345), "1.00|86400.000000|0.1235"},
      {StrPrintf("[%5s|%-5s|%.2s]", "ab", "ab", "abcdef"), "[   ab|ab   |ab]"},
      {StrPrintf("%ws and %ls and %S", L"wide", std::wstring(L"std"), L"cap"),
       "wide and std and cap"},
      {StrPrintf("%s", static_cast<const char*>(nullptr)), "(null)"},
      {StrPrintf("%c%c", 'o', 'k'), "ok"},
      {StrPrintf("100%% {braces} {0}"), "100% {braces} {0}"},
      {StrPrintf("%*d|%-*d|", 4, 7, 3, 1), "   7|1  |"},
      {StrPrintf("%p", reinterpret_cast<const void*>(std::uintptr_t{0xABC})), "0000000000000ABC"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(PrintfFormatTest, MissingArgumentsAndHostileFormatsAreSafe) {
  EXPECT_EQ(StrPrintf("a%db%sc"), "abc");
  int n = 0;
  EXPECT_EQ(StrPrintf("x%ny", &n), "xy");  // "%n" never writes
  EXPECT_EQ(n, 0);
  EXPECT_EQ(StrPrintf("%q|%"), "%q|%");
  EXPECT_EQ(StrPrintf("%99999999d", 1).size(), 4096u);  // width is bounded
}

// A double given to an integer conversion is converted by value, toward zero, and saturates at
// the limits of the conversion's type; NaN gives 0.
TEST(PrintfFormatTest, DoubleForAnIntegerConversionSaturatesAtItsType) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::string got;
    const char* want;
  } cases[] = {
      {StrPrintf("%d|%i|%d", 1e300, -1e300, inf), "2147483647|-2147483648|2147483647"},
      {StrPrintf("%d|%u|%x|%I64d", nan, nan, -nan, nan), "0|0|0|0"},
      {StrPrintf("%d|%d|%d", -2.9, 2.9, 2147483647.5), "-2|2|2147483647"},
      {StrPrintf("%hd|%hhd|%hu|%hhx", 1e9, -1e9, 1e9, 1e9), "32767|-128|65535|ff"},
      {StrPrintf("%I64d|%lld", 1e300, -inf), "9223372036854775807|-9223372036854775808"},
      {StrPrintf("%u|%x|%X", 1e300, 1e300, 4294967296.0), "4294967295|ffffffff|FFFFFFFF"},
      // Unsigned conversions stop at 0 below, and reach above the signed 64-bit range.
      {StrPrintf("%u|%I64u|%o", -1.0, -1e300, -0.5), "0|0|0"},
      {StrPrintf("%I64u|%llx", 9.3e18, 1e300), "9300000000000000000|ffffffffffffffff"},
      // Found by fuzzing (fuzz/regressions/printf_format/negative_nan_for_d.bin): a NaN with
      // its sign and a payload.
      {StrPrintf("%d", std::bit_cast<double>(std::uint64_t{0xFFFFFFFFFF323349})), "0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want);
  }
}

// A "*" width is an int, as the C library reads it; a negative one left-justifies. Whatever its
// value (INT_MIN included, or a double out of range) the width stays within 4096 characters,
// like a width written in the format.
TEST(PrintfFormatTest, StarWidthOfAnyValueIsBounded) {
  const std::string wide_right = std::string(4095, ' ') + "7|";
  const std::string wide_left = "7" + std::string(4095, ' ') + "|";
  struct Case {
    std::string got;
    std::string want;
  } cases[] = {
      {StrPrintf("%*d|", INT_MIN, 7), wide_left},
      {StrPrintf("%*d|", INT_MIN + 1, 7), wide_left},
      {StrPrintf("%*d|", INT_MAX, 7), wide_right},
      {StrPrintf("%*d|", 1e300, 7), wide_right},
      {StrPrintf("%*d|", -1e300, 7), wide_left},
      {StrPrintf("%*d|", std::numeric_limits<double>::quiet_NaN(), 7), "7|"},
      // Only the int's 32 bits count: 0x100000003 is 3.
      {StrPrintf("%*d|", std::int64_t{0x100000003}, 7), "  7|"},
      {StrPrintf("%-*d|", -3, 7), "7  |"},
      // A negative precision is none; a huge one is bounded the same way.
      {StrPrintf("%.*f|%.*f", -1, 1.5, 1e300, 0.5), "1.500000|0.5" + std::string(4095, '0')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want);
  }
}

// Flags repeat without limit in a format; each counts once and the conversion stays whole.
TEST(PrintfFormatTest, AnyNumberOfFlagsKeepsTheConversion) {
  struct Case {
    std::string got;
    const char* want;
  } cases[] = {
      {StrPrintf("%" + std::string(44, ' ') + "d|", 1), " 1|"},
      // Found by fuzzing (fuzz/regressions/printf_format/forty_four_flags.bin): AddressSanitizer
      // stopped in the C library's reading of the cut format.
      {StrPrintf("%" + std::string(39, '0') + "-+ #05d|", 0), "+0   |"},
      {StrPrintf("%" + std::string(1000, '-') + "5d|", 1), "1    |"},
      {StrPrintf("%" + std::string(200, '0') + "6.2f|", 1.0), "001.00|"},
      {StrPrintf("%" + std::string(100, '#') + "x|", 255), "0xff|"},
      {StrPrintf("%+ +  ++d|%0-0-4d|", 1, 2), "+1|2   |"},
      // "#" means nothing for a decimal conversion.
      {StrPrintf("%#d|%#5u|", 5, 6), "5|    6|"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(PrintfFormatTest, BoundedFormWritesAtMostSizeMinusOne) {
  char buf[8];
  EXPECT_EQ(FormatPrintf(buf, sizeof buf, "%s", std::span<const PrintfArg>()), 0u);
  EXPECT_STREQ(buf, "");
  const PrintfArg args[] = {PrintfArg("0123456789")};
  EXPECT_EQ(FormatPrintf(buf, sizeof buf, "%s", args), 10u);
  EXPECT_STREQ(buf, "0123456");
  char untouched = 'z';
  EXPECT_EQ(FormatPrintf(&untouched, 0, "%s", args), 10u);
  EXPECT_EQ(untouched, 'z');
}

}  // namespace
}  // namespace halvorn
