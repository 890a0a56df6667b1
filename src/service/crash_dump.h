// The name and place of a crash dump: "<folder of the executable>\<GUID>.dmp". Portable and
// free of allocation and locks, so that a crash filter or signal handler can use it while the
// rest of the process may be broken.

#ifndef HALVORN_SERVICE_CRASH_DUMP_H_
#define HALVORN_SERVICE_CRASH_DUMP_H_

#include <cstddef>
#include <cstdint>

namespace halvorn::service {

struct DumpGuid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X.dmp": 40 characters.
inline constexpr std::size_t kDumpFileNameLength = 40;
// The buffers of the crash filter, in characters.
inline constexpr std::size_t kDumpPathBufferSize = 260;
inline constexpr std::size_t kDumpNameBufferSize = 512;

// Writes the file name of `guid` and a terminating zero into `name`, which holds at least
// kDumpFileNameLength + 1 characters.
template <class CharT>
void FormatDumpFileName(const DumpGuid& guid, CharT* name) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t at = 0;
  auto put = [&](std::uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
      name[at++] = static_cast<CharT>(kHex[(value >> shift) & 0xF]);
    }
  };
  put(guid.data1, 8);
  name[at++] = static_cast<CharT>('-');
  put(guid.data2, 4);
  name[at++] = static_cast<CharT>('-');
  put(guid.data3, 4);
  name[at++] = static_cast<CharT>('-');
  put(guid.data4[0], 2);
  put(guid.data4[1], 2);
  name[at++] = static_cast<CharT>('-');
  for (int i = 2; i < 8; ++i) {
    put(guid.data4[i], 2);
  }
  for (const char* c = ".dmp"; *c != '\0'; ++c) {
    name[at++] = static_cast<CharT>(*c);
  }
  name[at] = CharT{};
}

enum class DumpPathResult {
  kOk,
  kNoFolder,  // the executable's path has no separator
  kTooLong,   // the executable's path was cut, or folder and name do not fit the buffer
};

// Builds "<folder with its trailing separator><name>" into `out` (capacity characters,
// terminated) from the executable's path (`module_length` characters, `module_cut` when the
// system had to cut it to fit). A path that does not fit is refused, not cut: a cut path could
// name another folder, and the dump then lands where nobody looks for it. On a refusal `out`
// holds an empty string.
template <class CharT>
DumpPathResult ComposeDumpPath(const CharT* module_path,
                               std::size_t module_length,
                               bool module_cut,
                               CharT separator,
                               const CharT* name,
                               CharT* out,
                               std::size_t capacity) {
  if (capacity > 0) {
    out[0] = CharT{};
  }
  if (module_cut) {
    return DumpPathResult::kTooLong;
  }
  std::size_t folder_length = 0;  // up to and including the last separator
  for (std::size_t i = 0; i < module_length; ++i) {
    if (module_path[i] == separator) {
      folder_length = i + 1;
    }
  }
  if (folder_length == 0) {
    return DumpPathResult::kNoFolder;
  }
  std::size_t name_length = 0;
  while (name[name_length] != CharT{}) {
    ++name_length;
  }
  if (folder_length + name_length + 1 > capacity) {
    return DumpPathResult::kTooLong;
  }
  for (std::size_t i = 0; i < folder_length; ++i) {
    out[i] = module_path[i];
  }
  for (std::size_t i = 0; i < name_length; ++i) {
    out[folder_length + i] = name[i];
  }
  out[folder_length + name_length] = CharT{};
  return DumpPathResult::kOk;
}

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_CRASH_DUMP_H_
