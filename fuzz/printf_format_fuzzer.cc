// Fuzzes the printf formatter with a format and arguments of every kind. The input is the
// format, a NUL byte, then the arguments, each one kind byte followed by its value:
//
//   'i' int64, 'u' uint64, 'n' int32, 'd' double (8 bytes, little-endian bit pattern),
//   'p' pointer (8 bytes), 's' narrow string (1 length byte, then the bytes),
//   'w' wide string (1 length byte, then 4 little-endian bytes per character),
//   '0' null narrow string, 'W' null wide string; any other kind byte is skipped.
//
// A value cut short by the end of the input reads as zero bytes. Besides the sanitizers'
// findings it checks that the text stays bounded (no conversion longer than its width or
// precision bound allows) and that the bounded form returns the same text, cut.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/printf_format.h"

namespace {

constexpr std::size_t kMaxArguments = 16;
// The longest text one argument can produce: a width or precision of 4096 (the formatter's
// bound), plus the 309 integer digits of the largest double, its sign, point and exponent.
constexpr std::size_t kMaxPerArgument = 4096 + 512;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool done() const { return pos_ >= bytes_.size(); }
  std::uint8_t Byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
  std::uint64_t Bytes(int count) {
    std::uint64_t v = 0;
    for (int i = 0; i < count; ++i) {
      v |= static_cast<std::uint64_t>(Byte()) << (8 * i);
    }
    return v;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  const std::size_t nul = std::string_view(text, size).find('\0');
  const std::string_view format(text, nul == std::string_view::npos ? size : nul);
  Reader in(nul == std::string_view::npos
                ? std::span<const std::uint8_t>()
                : std::span<const std::uint8_t>(data + nul + 1, size - nul - 1));

  // Argument strings live here; reserved so that the arguments' pointers stay valid.
  std::vector<std::string> narrow;
  std::vector<std::wstring> wide;
  narrow.reserve(kMaxArguments);
  wide.reserve(kMaxArguments);
  std::vector<halvorn::PrintfArg> args;
  while (!in.done() && args.size() < kMaxArguments) {
    switch (in.Byte()) {
      case 'i':
        args.emplace_back(static_cast<std::int64_t>(in.Bytes(8)));
        break;
      case 'u':
        args.emplace_back(in.Bytes(8));
        break;
      case 'n':
        args.emplace_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(in.Bytes(4))));
        break;
      case 'd':
        args.emplace_back(std::bit_cast<double>(in.Bytes(8)));
        break;
      case 'p':
        args.emplace_back(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(in.Bytes(8))));
        break;
      case 's': {
        std::string s(in.Byte(), '\0');
        for (char& c : s) {
          c = static_cast<char>(in.Byte());
        }
        narrow.push_back(std::move(s));
        args.emplace_back(narrow.back());
        break;
      }
      case 'w': {
        std::wstring s(in.Byte(), L'\0');
        for (wchar_t& c : s) {
          c = static_cast<wchar_t>(in.Bytes(4));
        }
        wide.push_back(std::move(s));
        args.emplace_back(wide.back());
        break;
      }
      case '0':
        args.emplace_back(static_cast<const char*>(nullptr));
        break;
      case 'W':
        args.emplace_back(static_cast<const wchar_t*>(nullptr));
        break;
      default:
        break;
    }
  }

  const std::string out = halvorn::FormatPrintf(format, args);
  if (out.size() > format.size() + args.size() * kMaxPerArgument) {
    std::abort();  // a width or precision escaped its bound
  }
  char bounded[64];
  const std::size_t length = halvorn::FormatPrintf(bounded, sizeof bounded, format, args);
  const std::size_t kept = std::min(out.size(), sizeof bounded - 1);
  if (length != out.size() || std::memcmp(bounded, out.data(), kept) != 0 ||
      bounded[kept] != '\0') {
    std::abort();  // the bounded form disagrees with the text
  }
  return 0;
}
