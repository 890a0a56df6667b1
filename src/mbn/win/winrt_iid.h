// Compile-time interface ids: GUIDs from their text form, and the ids of parameterized
// (generic) Windows Runtime interfaces computed from their type signatures, so that every id
// the backend relies on is checked by the compiler instead of trusted from a header.
//
// A parameterized interface's id is a version-5 UUID: SHA-1 over the 16 bytes of the WinRT
// namespace id 11f47ad5-7b73-42c0-abae-878b1e16adee (network order) followed by the UTF-8
// signature, e.g. "pinterface({piid};rc(Class.Name;{default-iid}))".

#ifndef HALVORN_MBN_WIN_WINRT_IID_H_
#define HALVORN_MBN_WIN_WINRT_IID_H_

#include <guiddef.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace halvorn::winrt_abi {

constexpr bool SameGuid(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
    return false;
  }
  for (std::size_t i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) {
      return false;
    }
  }
  return true;
}

namespace internal {

// Deliberately not constexpr: reaching it ends a constant evaluation with an error.
void InvalidGuidText();

constexpr std::uint32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<std::uint32_t>(c - '0');
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<std::uint32_t>(c - 'a' + 10);
  }
  if (c >= 'A' && c <= 'F') {
    return static_cast<std::uint32_t>(c - 'A' + 10);
  }
  InvalidGuidText();
  return 0;
}

constexpr std::uint32_t HexValue(std::string_view s) {
  std::uint32_t v = 0;
  for (char c : s) {
    v = v << 4 | HexDigit(c);
  }
  return v;
}

constexpr std::uint32_t RotateLeft(std::uint32_t v, int bits) {
  return v << bits | v >> (32 - bits);
}

// SHA-1 (FIPS 180-4) of `bytes`, for constant evaluation.
constexpr std::array<std::uint8_t, 20> Sha1(const std::string& bytes) {
  std::uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  std::string msg = bytes;
  const std::uint64_t bit_length = static_cast<std::uint64_t>(bytes.size()) * 8u;
  msg.push_back(static_cast<char>(0x80));
  while (msg.size() % 64 != 56) {
    msg.push_back('\0');
  }
  for (int shift = 56; shift >= 0; shift -= 8) {
    msg.push_back(static_cast<char>(static_cast<std::uint8_t>(bit_length >> shift)));
  }
  for (std::size_t block = 0; block < msg.size(); block += 64) {
    std::uint32_t w[80] = {};
    for (std::size_t i = 0; i < 16; ++i) {
      for (std::size_t j = 0; j < 4; ++j) {
        w[i] = w[i] << 8 | static_cast<std::uint8_t>(msg[block + i * 4 + j]);
      }
    }
    for (std::size_t i = 16; i < 80; ++i) {
      w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (std::size_t i = 0; i < 80; ++i) {
      std::uint32_t f = 0;
      std::uint32_t k = 0;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999u;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1u;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDCu;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6u;
      }
      const std::uint32_t t = RotateLeft(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> digest{};
  for (std::size_t i = 0; i < 20; ++i) {
    digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  }
  return digest;
}

// The 16 bytes of `g` in network order (Data1 to Data3 big-endian).
constexpr std::array<std::uint8_t, 16> NetworkBytes(const GUID& g) {
  std::array<std::uint8_t, 16> b{};
  for (std::size_t i = 0; i < 4; ++i) {
    b[i] = static_cast<std::uint8_t>(g.Data1 >> (24 - 8 * i));
  }
  b[4] = static_cast<std::uint8_t>(g.Data2 >> 8);
  b[5] = static_cast<std::uint8_t>(g.Data2);
  b[6] = static_cast<std::uint8_t>(g.Data3 >> 8);
  b[7] = static_cast<std::uint8_t>(g.Data3);
  for (std::size_t i = 0; i < 8; ++i) {
    b[8 + i] = g.Data4[i];
  }
  return b;
}

}  // namespace internal

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (no braces) as a GUID; malformed text does not
// compile.
consteval GUID ParseGuid(std::string_view s) {
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') {
    internal::InvalidGuidText();
  }
  GUID g{};
  g.Data1 = static_cast<decltype(g.Data1)>(internal::HexValue(s.substr(0, 8)));
  g.Data2 = static_cast<unsigned short>(internal::HexValue(s.substr(9, 4)));
  g.Data3 = static_cast<unsigned short>(internal::HexValue(s.substr(14, 4)));
  for (std::size_t i = 0; i < 2; ++i) {
    g.Data4[i] = static_cast<unsigned char>(internal::HexValue(s.substr(19 + 2 * i, 2)));
  }
  for (std::size_t i = 0; i < 6; ++i) {
    g.Data4[2 + i] = static_cast<unsigned char>(internal::HexValue(s.substr(24 + 2 * i, 2)));
  }
  return g;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case, as type signatures spell ids.
constexpr std::string BracedGuid(const GUID& g) {
  constexpr char kDigits[] = "0123456789abcdef";
  const std::array<std::uint8_t, 16> b = internal::NetworkBytes(g);
  std::string out = "{";
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      out.push_back('-');
    }
    out.push_back(kDigits[b[i] >> 4]);
    out.push_back(kDigits[b[i] & 0xF]);
  }
  out.push_back('}');
  return out;
}

// The signature of a runtime class: "rc(Name;{default interface id})".
constexpr std::string RuntimeClassSignature(std::string_view name, const GUID& default_iid) {
  std::string out = "rc(";
  out.append(name);
  out.push_back(';');
  out.append(BracedGuid(default_iid));
  out.push_back(')');
  return out;
}

// The signature of a parameterized interface instance: "pinterface({piid};arg;...)".
constexpr std::string PinterfaceSignature(const GUID& piid,
                                          std::string_view arg1,
                                          std::string_view arg2 = {}) {
  std::string out = "pinterface(";
  out.append(BracedGuid(piid));
  out.push_back(';');
  out.append(arg1);
  if (!arg2.empty()) {
    out.push_back(';');
    out.append(arg2);
  }
  out.push_back(')');
  return out;
}

// The interface id of a parameterized interface instance with signature `signature`.
consteval GUID ParameterizedIid(const std::string& signature) {
  constexpr GUID kWinRtPinterfaceNamespace = ParseGuid("11f47ad5-7b73-42c0-abae-878b1e16adee");
  const std::array<std::uint8_t, 16> ns = internal::NetworkBytes(kWinRtPinterfaceNamespace);
  std::string data;
  for (std::uint8_t byte : ns) {
    data.push_back(static_cast<char>(byte));
  }
  data.append(signature);
  std::array<std::uint8_t, 20> h = internal::Sha1(data);
  h[6] = static_cast<std::uint8_t>((h[6] & 0x0F) | 0x50);  // version 5
  h[8] = static_cast<std::uint8_t>((h[8] & 0x3F) | 0x80);  // RFC 4122 variant
  GUID g{};
  g.Data1 = static_cast<decltype(g.Data1)>(static_cast<std::uint32_t>(h[0]) << 24 |
                                           static_cast<std::uint32_t>(h[1]) << 16 |
                                           static_cast<std::uint32_t>(h[2]) << 8 | h[3]);
  g.Data2 = static_cast<unsigned short>(h[4] << 8 | h[5]);
  g.Data3 = static_cast<unsigned short>(h[6] << 8 | h[7]);
  for (std::size_t i = 0; i < 8; ++i) {
    g.Data4[i] = h[8 + i];
  }
  return g;
}

}  // namespace halvorn::winrt_abi

#endif  // HALVORN_MBN_WIN_WINRT_IID_H_
