// printf-style formatting with the conversions of the Windows C library, producing the same
// text on every build.
//
// The service's messages are printf format strings written for the Windows C runtime: they
// use "%ws" for wide strings and "%I64d" for 64-bit integers, and "%d"/"%ld" are 32 bits wide.
// Rather than relying on either C library's dialect (and on matching varargs types, which
// differ between LP64 Linux and LLP64 Windows), arguments are captured with their types and
// each conversion is rendered here with the Windows meaning of its length modifier.

#ifndef HALVORN_UTIL_PRINTF_FORMAT_H_
#define HALVORN_UTIL_PRINTF_FORMAT_H_

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace halvorn {

// One captured argument. Holds pointers to strings, not copies: it must not outlive the
// call it was made for.
class PrintfArg {
 public:
  enum class Kind { kNone, kSigned, kUnsigned, kDouble, kString, kWideString, kPointer };

  constexpr PrintfArg() = default;
  template <std::integral T>
  constexpr PrintfArg(T v)  // NOLINT(google-explicit-constructor)
      : kind_(std::is_signed_v<T> ? Kind::kSigned : Kind::kUnsigned) {
    if constexpr (std::is_signed_v<T>) {
      s_ = static_cast<std::int64_t>(v);
    } else {
      u_ = static_cast<std::uint64_t>(v);
    }
  }
  template <class E>
  requires std::is_enum_v<E>
  constexpr PrintfArg(E v)  // NOLINT(google-explicit-constructor)
      : PrintfArg(static_cast<std::underlying_type_t<E>>(v)) {}
  constexpr PrintfArg(double v) : kind_(Kind::kDouble), d_(v) {}         // NOLINT
  constexpr PrintfArg(float v) : kind_(Kind::kDouble), d_(v) {}          // NOLINT
  constexpr PrintfArg(const char* v) : kind_(Kind::kString), str_(v) {}  // NOLINT
  constexpr PrintfArg(char* v) : kind_(Kind::kString), str_(v) {}        // NOLINT
  PrintfArg(const std::string& v)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::kString), str_(v.c_str()), len_(v.size()) {}
  constexpr PrintfArg(std::string_view v)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::kString), str_(v.data()), len_(v.size()) {}
  constexpr PrintfArg(const wchar_t* v) : kind_(Kind::kWideString), wstr_(v) {}  // NOLINT
  constexpr PrintfArg(wchar_t* v) : kind_(Kind::kWideString), wstr_(v) {}        // NOLINT
  PrintfArg(const std::wstring& v)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::kWideString), wstr_(v.c_str()), len_(v.size()) {}
  constexpr PrintfArg(std::wstring_view v)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::kWideString), wstr_(v.data()), len_(v.size()) {}
  constexpr PrintfArg(const void* v) : kind_(Kind::kPointer), p_(v) {}  // NOLINT
  constexpr PrintfArg(std::nullptr_t) : kind_(Kind::kPointer) {}        // NOLINT

  Kind kind() const { return kind_; }
  // The value as an integer. A double is converted toward zero and saturates at the limits of
  // the result type, NaN giving 0 (a plain conversion would be undefined when it does not
  // fit); a pointer gives its address.
  std::int64_t AsSigned() const;
  std::uint64_t AsUnsigned() const;
  double AsDouble() const;
  // Narrow text of a string argument; wide strings are converted with the system code
  // page. A null string reads "(null)", as in the Windows C library.
  std::string AsNarrow() const;
  const void* AsPointer() const { return p_; }

 private:
  Kind kind_ = Kind::kNone;
  std::int64_t s_ = 0;
  std::uint64_t u_ = 0;
  double d_ = 0;
  const char* str_ = nullptr;
  const wchar_t* wstr_ = nullptr;
  const void* p_ = nullptr;
  static constexpr std::size_t kNpos = static_cast<std::size_t>(-1);
  std::size_t len_ = kNpos;
};

// Formats `format` with `args` into `out`. Conversion meanings follow the Windows C library:
//   %d %i %u %o %x %X %c   32-bit ("h" 16, "hh" 8; "l" stays 32 as on Windows),
//   %lld %I64d %jd %zd ... 64-bit, %f %e %g %a double, %p 16 upper-case hex digits,
//   %s narrow string, %ws %ls %S wide string (converted with the system code page).
// A conversion without an argument writes nothing; "%n" is refused and writes nothing.
// Every format and argument list gives defined text:
//   - a double given to an integer conversion is taken by value and saturates at the limits of
//     the conversion's type (NaN gives 0); an integer keeps its low-order bits;
//   - a width or precision, written or given by "*" (an int; negative widths left-justify,
//     INT_MIN included), is bounded to 4096;
//   - a flag written any number of times counts once; "#" is dropped from %d, %i and %u.
// Returns the formatted text; nothing is cut here.
std::string FormatPrintf(std::string_view format, std::span<const PrintfArg> args);

// Bounded form with snprintf semantics: at most size-1 bytes and a terminating NUL are
// written (nothing when size is 0); returns the length of the untruncated text.
std::size_t FormatPrintf(char* out,
                         std::size_t size,
                         std::string_view format,
                         std::span<const PrintfArg> args);

template <class... Args>
std::string StrPrintf(std::string_view format, const Args&... args) {
  const PrintfArg packed[sizeof...(Args) + 1] = {PrintfArg(args)..., PrintfArg()};
  return FormatPrintf(format, std::span<const PrintfArg>(packed, sizeof...(Args)));
}

}  // namespace halvorn

#endif  // HALVORN_UTIL_PRINTF_FORMAT_H_
