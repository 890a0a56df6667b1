#include "util/registry_text.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <span>

#include "util/registry_platform.h"
#include "util/utf16le.h"

namespace halvorn::registry_text {

using registry_platform::kRegBinary;
using registry_platform::kRegDword;
using registry_platform::kRegSz;

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return s;
}

namespace {

// UTF-16LE (regedit's export encoding, with its byte-order mark) or UTF-8 to UTF-8.
std::string Decode(std::string_view raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE) {
    const auto* units = reinterpret_cast<const std::uint8_t*>(raw.data()) + 2;
    return Utf8FromUtf16Le({units, raw.size() - 2});
  }
  if (raw.substr(0, 3) == "\xEF\xBB\xBF") {
    return std::string(raw.substr(3));
  }
  return std::string(raw);
}

// Logical lines: CR removed, lines ending in a backslash joined with the next one (the
// continuation of long hex data).
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    pos = end + 1;
    if (!current.empty()) {
      std::size_t first = line.find_first_not_of(" \t");
      line = first == std::string::npos ? std::string() : line.substr(first);
    }
    if (!line.empty() && line.back() == '\\') {
      current += line.substr(0, line.size() - 1);
      continue;
    }
    lines.push_back(current + line);
    current.clear();
  }
  if (!current.empty()) {
    lines.push_back(current);
  }
  return lines;
}

// Parses a quoted string at s[*i] ('"' expected); handles \" and \\.
std::optional<std::string> ParseQuoted(const std::string& s, std::size_t* i) {
  if (*i >= s.size() || s[*i] != '"') {
    return std::nullopt;
  }
  std::string out;
  for (std::size_t k = *i + 1; k < s.size(); ++k) {
    if (s[k] == '\\' && k + 1 < s.size() && (s[k + 1] == '"' || s[k + 1] == '\\')) {
      out.push_back(s[++k]);
    } else if (s[k] == '"') {
      *i = k + 1;
      return out;
    } else {
      out.push_back(s[k]);
    }
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ParseHexList(const std::string& s) {
  std::vector<std::uint8_t> out;
  std::size_t k = 0;
  while (k < s.size()) {
    while (k < s.size() && (s[k] == ' ' || s[k] == '\t' || s[k] == ',')) {
      ++k;
    }
    if (k >= s.size()) {
      break;
    }
    std::size_t start = k;
    while (k < s.size() && std::isxdigit(static_cast<unsigned char>(s[k])) != 0) {
      ++k;
    }
    if (k - start == 0 || k - start > 2) {
      return std::nullopt;
    }
    out.push_back(
        static_cast<std::uint8_t>(std::strtoul(s.substr(start, k - start).c_str(), nullptr, 16)));
    if (k < s.size() && s[k] != ',' && s[k] != ' ' && s[k] != '\t') {
      return std::nullopt;
    }
  }
  return out;
}

// Parses the data right of '='. Returns nullopt when malformed; a deletion ("-") sets
// *deletion and gives an empty value. Every 32-bit type can be stored ("hex(ffffffff):"), so
// a deletion is told apart by the flag, never by a type.
std::optional<Value> ParseData(const std::string& s, bool* deletion) {
  Value v;
  *deletion = s == "-";
  if (*deletion) {
    return v;
  }
  if (!s.empty() && s[0] == '"') {
    std::size_t i = 0;
    auto text = ParseQuoted(s, &i);
    if (!text || s.find_first_not_of(" \t", i) != std::string::npos) {
      return std::nullopt;
    }
    v.type = kRegSz;
    // Stored as UTF-16LE with its terminator, as the registry does.
    AppendUtf16LeFromUtf8(*text, &v.data);
    v.data.push_back(0);
    v.data.push_back(0);
    return v;
  }
  std::string lower = Lower(s);
  if (lower.rfind("dword:", 0) == 0) {
    std::string digits = s.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return std::nullopt;
    }
    auto n = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    v.type = kRegDword;
    for (int b = 0; b < 4; ++b) {
      v.data.push_back(static_cast<std::uint8_t>((n >> (8 * b)) & 0xFF));
    }
    return v;
  }
  std::size_t colon = lower.find(':');
  if (lower.rfind("hex", 0) != 0 || colon == std::string::npos) {
    return std::nullopt;
  }
  std::string kind = lower.substr(3, colon - 3);
  if (kind.empty()) {
    v.type = kRegBinary;
  } else if (kind.size() > 2 && kind.size() <= 10 && kind.front() == '(' && kind.back() == ')' &&
             kind.find_first_not_of("0123456789abcdef", 1) == kind.size() - 1) {
    v.type = static_cast<std::uint32_t>(std::strtoul(kind.substr(1).c_str(), nullptr, 16));
  } else {
    return std::nullopt;
  }
  auto bytes = ParseHexList(s.substr(colon + 1));
  if (!bytes) {
    return std::nullopt;
  }
  v.data = std::move(*bytes);
  return v;
}

// The lower-case path below HKEY_LOCAL_MACHINE named by a key header, without the trailing
// backslashes an import accepts ("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Key\\]"); nullopt for
// the keys of other roots, for the root itself, and for a path with an empty level
// ("HKLM\\\\Key", "HKLM\\A\\\\B"), which names no key that the registry could hold.
std::optional<std::string> LocalMachinePath(const std::string& name) {
  std::string lower = Lower(name);
  for (const char* root : {"hkey_local_machine\\", "hklm\\"}) {
    if (lower.rfind(root, 0) == 0) {
      std::string path = lower.substr(std::strlen(root));
      while (!path.empty() && path.back() == '\\') {
        path.pop_back();
      }
      if (path.empty() || path.front() == '\\' || path.find("\\\\") != std::string::npos) {
        return std::nullopt;
      }
      return path;
    }
  }
  return std::nullopt;
}

// Makes the key and every missing level above it, as an import does; returns its values.
Values& CreateKey(Keys& keys, const std::string& path) {
  for (std::size_t slash = path.find('\\'); slash != std::string::npos;
       slash = path.find('\\', slash + 1)) {
    keys.try_emplace(path.substr(0, slash));
  }
  return keys[path];
}

// Removes the key with all its sub-keys.
void DeleteKey(Keys& keys, const std::string& path) {
  const std::string below = path + "\\";
  for (auto it = keys.begin(); it != keys.end();) {
    if (it->first == path || it->first.rfind(below, 0) == 0) {
      it = keys.erase(it);
    } else {
      ++it;
    }
  }
}

// Applies the file's lines in order, as an import of it would: a key header makes the key, a
// header "[-...]" deletes the key with its sub-keys, "Name"=- deletes a value, and whatever is
// written after a deletion counts again. Values under a deletion header or a key of another
// root are read (to check them) but kept nowhere.
std::optional<Keys> Parse(const std::string& text) {
  Keys keys;
  std::vector<std::string> lines = LogicalLines(text);
  std::size_t i = 0;
  while (i < lines.size() && lines[i].find_first_not_of(" \t") == std::string::npos) {
    ++i;
  }
  if (i >= lines.size() ||
      (lines[i] != "Windows Registry Editor Version 5.00" && lines[i] != "REGEDIT4")) {
    return std::nullopt;
  }
  Values* section = nullptr;
  bool in_section = false;
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') {
      continue;
    }
    if (line[first] == '[') {
      std::size_t close = line.rfind(']');
      if (close == std::string::npos || close < first) {
        return std::nullopt;
      }
      std::string name = line.substr(first + 1, close - first - 1);
      in_section = true;
      section = nullptr;
      const bool deletion = !name.empty() && name[0] == '-';
      auto path = LocalMachinePath(deletion ? name.substr(1) : name);
      if (path && deletion) {
        DeleteKey(keys, *path);
      } else if (path) {
        section = &CreateKey(keys, *path);
      }
      continue;
    }
    if (!in_section) {
      return std::nullopt;
    }
    std::string name;
    std::size_t k = first;
    if (line[k] == '@') {
      ++k;
    } else {
      auto quoted = ParseQuoted(line, &k);
      if (!quoted) {
        return std::nullopt;
      }
      name = *quoted;
    }
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) {
      ++k;
    }
    if (k >= line.size() || line[k] != '=') {
      return std::nullopt;
    }
    std::string data = line.substr(k + 1);
    std::size_t d = data.find_first_not_of(" \t");
    std::size_t e = data.find_last_not_of(" \t");
    data = d == std::string::npos ? std::string() : data.substr(d, e - d + 1);
    bool deletion = false;
    auto value = ParseData(data, &deletion);
    if (!value) {
      return std::nullopt;
    }
    if (section == nullptr) {
      continue;
    }
    if (deletion) {
      section->erase(Lower(name));
    } else {
      (*section)[Lower(name)] = std::move(*value);
    }
  }
  return keys;
}

}  // namespace

std::optional<Keys> ParseRegistryText(std::string_view raw) {
  return Parse(Decode(raw));
}

const Values* FindKey(const Keys& keys, std::string_view sub_key) {
  std::string wanted = Lower(std::string(sub_key));
  while (!wanted.empty() && wanted.back() == '\\') {
    wanted.pop_back();
  }
  const auto it = keys.find(wanted);
  return it == keys.end() ? nullptr : &it->second;
}

const Value* FindValue(const Values& values, std::string_view name) {
  const auto it = values.find(Lower(std::string(name)));
  return it == values.end() ? nullptr : &it->second;
}

}  // namespace halvorn::registry_text
