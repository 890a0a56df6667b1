// Fuzzes the portable ".reg" text parse (registry_text.h) with a registry file's bytes.
// Besides the sanitizers' findings it checks what any parse must keep:
//
//   - every level above a key that the file makes is a key too, as an import leaves it;
//   - a file reads the same in the two encodings an export comes in: text that is UTF-8
//     parses to the same keys and values as that text in UTF-16LE with its byte-order mark.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "util/platform.h"
#include "util/registry_text.h"
#include "util/utf16le.h"

namespace {

using halvorn::registry_text::Keys;

bool Same(const Keys& a, const Keys& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
    if (ia->first != ib->first || ia->second.size() != ib->second.size()) {
      return false;
    }
    for (auto va = ia->second.begin(), vb = ib->second.begin(); va != ia->second.end();
         ++va, ++vb) {
      if (va->first != vb->first || va->second.type != vb->second.type ||
          va->second.data != vb->second.data) {
        return false;
      }
    }
  }
  return true;
}

// `text` as regedit writes it: the byte-order mark FF FE, then UTF-16LE units.
std::string Utf16Export(const std::wstring& text) {
  std::vector<std::uint8_t> units = {0xFF, 0xFE};
  halvorn::AppendUtf16Le(text, &units);
  return std::string(units.begin(), units.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const auto keys = halvorn::registry_text::ParseRegistryText(raw);
  if (keys) {
    for (const auto& entry : *keys) {
      const std::string& path = entry.first;
      const std::size_t slash = path.rfind('\\');
      if (path.empty() || (slash != std::string::npos && keys->count(path.substr(0, slash)) == 0)) {
        std::abort();  // a key without the levels above it
      }
    }
  }

  // The same text in UTF-16: only for input that is UTF-8 throughout (a UTF-8 byte-order mark
  // is not part of the text), and that is not itself a UTF-16 export.
  if (raw.size() >= 2 && raw.compare(0, 2, "\xFF\xFE") == 0) {
    return 0;
  }
  const std::string text = raw.compare(0, 3, "\xEF\xBB\xBF") == 0 ? raw.substr(3) : raw;
  const std::wstring wide = halvorn::platform::NarrowToWide(text);
  if (halvorn::platform::WideToNarrow(wide) != text) {
    return 0;
  }
  const auto keys16 = halvorn::registry_text::ParseRegistryText(Utf16Export(wide));
  if (keys.has_value() != keys16.has_value() || (keys && !Same(*keys, *keys16))) {
    std::abort();  // the encodings of one text read differently
  }
  return 0;
}
