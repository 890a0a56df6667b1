// The Linux registry: a file in the Windows ".reg" export format, for example
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tessary Wireless Inc\Brevane]
//   "IsDisableVerify"=dword:00000001
//
// read from /etc/halvorn/registry.reg, or from the file named by the environment variable
// HALVORN_REGISTRY_FILE. Since these settings can switch the authorisation checks off, the
// file is trusted only when it is a regular file owned by root and not writable by group or
// others; otherwise it is unreadable (access denied). A file that does not parse is a damaged
// registry (ERROR_BADDB) as a whole. The file reads as importing it into an empty registry
// would leave it, deletions ("[-key]", "Name"=-) included. Key and value names compare without
// regard to ASCII case.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "util/linux/scoped_fd.h"
#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry_platform.h"

namespace halvorn::registry_platform {

namespace {

constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;
constexpr long kErrorBadDb = 1009;
constexpr const char* kDefaultFile = "/etc/halvorn/registry.reg";
constexpr std::size_t kMaxFileSize = 1 << 20;

struct Value {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};
using Values = std::map<std::string, Value>;  // by lower-case name
using Keys = std::map<std::string, Values>;   // by lower-case path below HKLM

long Fail(long status) {
  errno = static_cast<int>(status);
  return status;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return s;
}

std::string RegistryFilePath() {
  const char* env = std::getenv("HALVORN_REGISTRY_FILE");
  return env != nullptr && *env != '\0' ? env : kDefaultFile;
}

// Reads the file if it may be trusted. Returns 0 or the status of the failure.
//
// The checks are made on the open descriptor that is then read, so the file cannot be swapped
// between check and read. Nothing in the open may wait or follow: a link is refused
// (O_NOFOLLOW), and O_NONBLOCK keeps a named pipe or a device at the path from holding the
// open (start-up reads this file before anything else runs); O_NOCTTY keeps a terminal from
// becoming ours. The read itself is from a regular file only, where O_NONBLOCK changes nothing.
long ReadTrusted(const std::string& path, std::string* text) {
  const ScopedFd fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd.is_valid()) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return kErrorFileNotFound;
    }
    if (errno == ELOOP) {
      LogHelper::Print(LogError, "ReadDWORDRegValue",
                       "registry file %s is a symbolic link, which is not followed: ignored", path);
    }
    return kErrorAccessDenied;
  }
  struct stat st {};
  long status = 0;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0 ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
      static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
    status = kErrorAccessDenied;
  } else {
    text->resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text->size()) {
      ssize_t n = ::read(fd.get(), text->data() + got, text->size() - got);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    text->resize(got);
  }
  if (status == kErrorAccessDenied) {
    LogHelper::Print(LogError, "ReadDWORDRegValue",
                     "registry file %s is not a regular file owned by root and writable only "
                     "by root (or is over 1 MiB): ignored",
                     path);
  }
  return status;
}

// UTF-16LE (regedit's export encoding, with its byte-order mark) or UTF-8 to UTF-8.
std::string Decode(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE) {
    std::wstring wide;
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
      auto unit = static_cast<std::uint32_t>(static_cast<unsigned char>(raw[i]) |
                                             (static_cast<unsigned char>(raw[i + 1]) << 8));
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < raw.size()) {
        auto low = static_cast<std::uint32_t>(static_cast<unsigned char>(raw[i + 2]) |
                                              (static_cast<unsigned char>(raw[i + 3]) << 8));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      wide.push_back(static_cast<wchar_t>(unit));
    }
    return platform::WideToNarrow(wide);
  }
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    return raw.substr(3);
  }
  return raw;
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

// The type ParseData gives a deletion ("Name"=-).
constexpr std::uint32_t kDeletion = 0xFFFFFFFF;

// Parses the data right of '='. Returns nullopt when malformed; a deletion ("-") gives a
// value of type kDeletion.
std::optional<Value> ParseData(const std::string& s) {
  Value v;
  if (s == "-") {
    v.type = kDeletion;
    return v;
  }
  if (!s.empty() && s[0] == '"') {
    std::size_t i = 0;
    auto text = ParseQuoted(s, &i);
    if (!text || s.find_first_not_of(" \t", i) != std::string::npos) {
      return std::nullopt;
    }
    v.type = kRegSz;
    std::wstring wide = platform::NarrowToWide(*text);
    for (wchar_t wc : wide) {  // stored as UTF-16LE with its terminator, as the registry does
      auto c = static_cast<std::uint32_t>(wc);
      v.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      v.data.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
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
  } else if (kind.size() > 2 && kind.front() == '(' && kind.back() == ')' &&
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
// the keys of other roots and for the root itself.
std::optional<std::string> LocalMachinePath(const std::string& name) {
  std::string lower = Lower(name);
  for (const char* root : {"hkey_local_machine\\", "hklm\\"}) {
    if (lower.rfind(root, 0) == 0) {
      std::string path = lower.substr(std::strlen(root));
      while (!path.empty() && path.back() == '\\') {
        path.pop_back();
      }
      if (path.empty()) {
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
    auto value = ParseData(data);
    if (!value) {
      return std::nullopt;
    }
    if (section == nullptr) {
      continue;
    }
    if (value->type == kDeletion) {
      section->erase(Lower(name));
    } else {
      (*section)[Lower(name)] = std::move(*value);
    }
  }
  return keys;
}

class FileKey final : public Key {
 public:
  explicit FileKey(Values values) : values_(std::move(values)) {}

  long Query(const std::wstring& name,
             std::uint32_t* type,
             std::uint8_t* data,
             std::uint32_t* size) override {
    auto it = values_.find(Lower(platform::WideToNarrow(name)));
    if (it == values_.end()) {
      return Fail(kErrorFileNotFound);
    }
    const Value& v = it->second;
    const auto needed = static_cast<std::uint32_t>(v.data.size());
    *type = v.type;
    if (data != nullptr && *size < needed) {
      *size = needed;
      return Fail(kErrorMoreData);
    }
    if (data != nullptr && needed != 0) {
      std::memcpy(data, v.data.data(), needed);
    }
    *size = needed;
    return Fail(0);
  }

 private:
  Values values_;
};

}  // namespace

long OpenLocalMachineKey(const std::wstring& sub_key, std::unique_ptr<Key>* key) {
  std::string raw;
  long status = ReadTrusted(RegistryFilePath(), &raw);
  if (status != 0) {
    return Fail(status);
  }
  auto keys = Parse(Decode(raw));
  if (!keys) {
    return Fail(kErrorBadDb);
  }
  std::string wanted = Lower(platform::WideToNarrow(sub_key));
  while (!wanted.empty() && wanted.back() == '\\') {
    wanted.pop_back();
  }
  // Every level above a written key is a key too (CreateKey).
  auto it = keys->find(wanted);
  if (it == keys->end()) {
    return Fail(kErrorFileNotFound);
  }
  *key = std::make_unique<FileKey>(it->second);
  return Fail(0);
}

}  // namespace halvorn::registry_platform
