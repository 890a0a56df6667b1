#include "util/printf_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "util/platform.h"

namespace halvorn {

namespace {

// `d` as a T: toward zero, saturating at T's limits; NaN gives 0. (A plain conversion of a
// double that does not fit is undefined behaviour.)
template <class T>
T Saturating(double d) {
  if (std::isnan(d)) {
    return 0;
  }
  // Both limits are exact as doubles or round away from T's range (2^63, 2^64), so every d
  // strictly between them truncates to a value of T.
  if (d <= static_cast<double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  if (d >= static_cast<double>(std::numeric_limits<T>::max())) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(d);
}

}  // namespace

std::int64_t PrintfArg::AsSigned() const {
  switch (kind_) {
    case Kind::kSigned:
      return s_;
    case Kind::kUnsigned:
      return static_cast<std::int64_t>(u_);
    case Kind::kDouble:
      return Saturating<std::int64_t>(d_);
    case Kind::kPointer:
      return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(p_));
    default:
      return 0;
  }
}

std::uint64_t PrintfArg::AsUnsigned() const {
  switch (kind_) {
    case Kind::kUnsigned:
      return u_;
    case Kind::kDouble:
      return Saturating<std::uint64_t>(d_);
    default:
      return static_cast<std::uint64_t>(AsSigned());
  }
}

double PrintfArg::AsDouble() const {
  switch (kind_) {
    case Kind::kDouble:
      return d_;
    case Kind::kSigned:
      return static_cast<double>(s_);
    case Kind::kUnsigned:
      return static_cast<double>(u_);
    default:
      return 0.0;
  }
}

std::string PrintfArg::AsNarrow() const {
  if (kind_ == Kind::kString) {
    if (str_ == nullptr) {
      return "(null)";
    }
    return len_ == kNpos ? std::string(str_) : std::string(str_, len_);
  }
  if (kind_ == Kind::kWideString) {
    if (wstr_ == nullptr) {
      return "(null)";
    }
    return platform::WideToNarrow(len_ == kNpos ? std::wstring_view(wstr_)
                                                : std::wstring_view(wstr_, len_));
  }
  return "(null)";
}

namespace {

enum class Width { k8, k16, k32, k64 };

// Bound of a width or precision, written in the format or given by "*", so that no format
// can ask for more than a few kilobytes of text per conversion.
constexpr int kMaxWidth = 4096;

// One conversion as parsed from the format: flags, width, precision, length, character.
struct Conversion {
  std::string flags;   // each flag once, however often the format repeats it
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  Width size = Width::k32;
  bool wide = false;  // "l", "w" or "S": the string or character argument is wide
  char letter = 0;    // the conversion character
};

// Formats a single value with a one-conversion format built from `cv`, `length` and `conv`.
template <class T>
void AppendOne(std::string& out, const Conversion& cv, const char* length, char conv, T value) {
  std::string fmt = "%" + cv.flags;
  if (cv.width >= 0) {
    fmt += std::to_string(cv.width);
  }
  if (cv.precision >= 0) {
    fmt += "." + std::to_string(cv.precision);
  }
  fmt += length;
  fmt += conv;
  char stack[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = std::snprintf(stack, sizeof stack, fmt.c_str(), value);
  if (n < 0) {
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof stack) {
    out.append(stack, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), fmt.c_str(), value);
#pragma GCC diagnostic pop
  out.append(big.data(), static_cast<std::size_t>(n));
}

// An argument as T, the type of a conversion's size. An integer keeps its low-order bits, as
// the C library reads an argument of the conversion's size; a double is converted by value and
// saturates at T's limits (NaN gives 0, and below 0 an unsigned T gives 0).
template <class T>
T ArgAs(const PrintfArg& a) {
  if (a.kind() == PrintfArg::Kind::kDouble) {
    return Saturating<T>(a.AsDouble());
  }
  return static_cast<T>(a.AsUnsigned());
}

template <class T8, class T16, class T32, class T64>
T64 ArgOfSize(const PrintfArg& a, Width w) {
  switch (w) {
    case Width::k8:
      return ArgAs<T8>(a);
    case Width::k16:
      return ArgAs<T16>(a);
    case Width::k32:
      return ArgAs<T32>(a);
    case Width::k64:
      break;
  }
  return ArgAs<T64>(a);
}

// The argument of a signed or an unsigned conversion of size `w` (ArgAs).
std::int64_t SignedArg(const PrintfArg& a, Width w) {
  return ArgOfSize<std::int8_t, std::int16_t, std::int32_t, std::int64_t>(a, w);
}

std::uint64_t UnsignedArg(const PrintfArg& a, Width w) {
  return ArgOfSize<std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t>(a, w);
}

// A "*" width or precision: an int (32 bits on both builds), or `missing` without an argument.
std::int64_t StarArg(const PrintfArg* a, std::int64_t missing) {
  return a != nullptr ? SignedArg(*a, Width::k32) : missing;
}

// Pads `text` to the conversion's width (strings and characters).
void AppendPadded(std::string& out, const Conversion& cv, std::string_view text) {
  std::size_t pad = cv.width > static_cast<int>(text.size())
                        ? static_cast<std::size_t>(cv.width) - text.size()
                        : 0;
  bool left = cv.flags.find('-') != std::string::npos;
  if (!left) {
    out.append(pad, ' ');
  }
  out.append(text);
  if (left) {
    out.append(pad, ' ');
  }
}

// The arguments in the order the format takes them: "*" widths and precisions, then values.
class ArgCursor {
 public:
  explicit ArgCursor(std::span<const PrintfArg> args) : args_(args) {}
  // The next argument, or null when they are used up.
  const PrintfArg* Take() { return next_ < args_.size() ? &args_[next_++] : nullptr; }

 private:
  std::span<const PrintfArg> args_;
  std::size_t next_ = 0;
};

// Reads the conversion that starts at format[i], just after its '%', up to and including its
// conversion character, taking the arguments of "*" widths and precisions. Leaves `i` after
// the conversion; false when the format ends before its conversion character.
bool ParseConversion(std::string_view format, std::size_t& i, ArgCursor& args, Conversion* cv) {
  const std::size_t n = format.size();
  auto add_flag = [cv](char flag) {
    if (cv->flags.find(flag) == std::string::npos) {
      cv->flags.push_back(flag);
    }
  };
  while (i < n && std::strchr("-+ #0", format[i]) != nullptr) {
    add_flag(format[i++]);
  }
  if (i < n && format[i] == '*') {
    ++i;
    // A negative width left-justifies; its size is taken in 64 bits, where INT_MIN's fits.
    std::int64_t w = StarArg(args.Take(), 0);
    if (w < 0) {
      add_flag('-');
      w = -w;
    }
    cv->width = static_cast<int>(std::min<std::int64_t>(w, kMaxWidth));
  } else {
    int w = -1;
    while (i < n && format[i] >= '0' && format[i] <= '9') {
      w = (w < 0 ? 0 : w) * 10 + (format[i++] - '0');
      w = std::min(w, kMaxWidth);
    }
    cv->width = w;
  }
  if (i < n && format[i] == '.') {
    ++i;
    if (i < n && format[i] == '*') {
      ++i;
      const std::int64_t p = StarArg(args.Take(), -1);
      cv->precision = p < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(p, kMaxWidth));
    } else {
      int p = 0;
      while (i < n && format[i] >= '0' && format[i] <= '9') {
        p = std::min(p * 10 + (format[i++] - '0'), kMaxWidth);
      }
      cv->precision = p;
    }
  }
  // Length modifiers with their Windows meaning.
  auto starts = [&](std::string_view s) { return format.substr(i, s.size()) == s; };
  if (starts("I64")) {
    cv->size = Width::k64;
    i += 3;
  } else if (starts("I32")) {
    cv->size = Width::k32;
    i += 3;
  } else if (starts("hh")) {
    cv->size = Width::k8;
    i += 2;
  } else if (starts("ll")) {
    cv->size = Width::k64;
    i += 2;
  } else if (i < n) {
    switch (format[i]) {
      case 'h':
        cv->size = Width::k16;
        ++i;
        break;
      case 'l':  // %ls, %lc; integers stay 32 bits
      case 'w':
        cv->wide = true;
        ++i;
        break;
      case 'I':
      case 'z':
      case 'j':
      case 't':
        cv->size = Width::k64;
        ++i;
        break;
      case 'L':
        ++i;
        break;
      default:
        break;
    }
  }
  if (i >= n) {
    return false;
  }
  cv->letter = format[i++];
  return true;
}

// Writes one parsed conversion with its argument; a conversion without an argument writes
// nothing. `text` is the conversion as written, kept for a character that is no conversion.
void RenderConversion(std::string& out, Conversion cv, ArgCursor& args, std::string_view text) {
  switch (cv.letter) {
    case 'd':
    case 'i': {
      const PrintfArg* a = args.Take();
      if (a != nullptr) {
        std::erase(cv.flags, '#');  // means nothing here, and is undefined in the C library
        AppendOne(out, cv, "ll", 'd', static_cast<long long>(SignedArg(*a, cv.size)));
      }
      break;
    }
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
      const PrintfArg* a = args.Take();
      if (a != nullptr) {
        if (cv.letter == 'u') {
          std::erase(cv.flags, '#');
        }
        AppendOne(out, cv, "ll", cv.letter,
                  static_cast<unsigned long long>(UnsignedArg(*a, cv.size)));
      }
      break;
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A': {
      const PrintfArg* a = args.Take();
      if (a != nullptr) {
        AppendOne(out, cv, "", cv.letter, a->AsDouble());
      }
      break;
    }
    case 'C':
      cv.wide = true;
      [[fallthrough]];
    case 'c': {
      const PrintfArg* a = args.Take();
      if (a != nullptr) {
        std::string ch;
        if (cv.wide) {
          wchar_t w = static_cast<wchar_t>(a->AsUnsigned());
          ch = platform::WideToNarrow(std::wstring_view(&w, 1));
        } else {
          ch.push_back(static_cast<char>(a->AsUnsigned()));
        }
        AppendPadded(out, cv, ch);
      }
      break;
    }
    case 'S':
      cv.wide = true;
      [[fallthrough]];
    case 's': {
      const PrintfArg* a = args.Take();
      if (a != nullptr) {
        std::string str = a->AsNarrow();
        if (cv.precision >= 0 && str.size() > static_cast<std::size_t>(cv.precision)) {
          str.resize(static_cast<std::size_t>(cv.precision));
        }
        AppendPadded(out, cv, str);
      }
      break;
    }
    case 'p': {
      const PrintfArg* a = args.Take();
      if (a != nullptr) {
        Conversion p;
        p.flags = "0";
        p.width = 16;
        AppendOne(
            out, p, "ll", 'X',
            static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a->AsPointer())));
      }
      break;
    }
    case 'n':
      args.Take();  // never written through: a format must not write to memory
      break;
    default:
      out.append(text);
      break;
  }
}

}  // namespace

std::string FormatPrintf(std::string_view format, std::span<const PrintfArg> args) {
  std::string out;
  out.reserve(format.size() + 64);
  ArgCursor cursor(args);
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n) {
    if (format[i] != '%') {
      std::size_t end = format.find('%', i);
      if (end == std::string_view::npos) {
        end = n;
      }
      out.append(format.substr(i, end - i));
      i = end;
      continue;
    }
    const std::size_t start = i++;
    if (i < n && format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    Conversion cv;
    if (!ParseConversion(format, i, cursor, &cv)) {
      out.append(format.substr(start));  // incomplete conversion at the end: kept as text
      break;
    }
    RenderConversion(out, std::move(cv), cursor, format.substr(start, i - start));
  }
  return out;
}

std::size_t FormatPrintf(char* out,
                         std::size_t size,
                         std::string_view format,
                         std::span<const PrintfArg> args) {
  std::string text = FormatPrintf(format, args);
  if (size > 0) {
    std::size_t copy = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), copy);
    out[copy] = '\0';
  }
  return text.size();
}

}  // namespace halvorn
