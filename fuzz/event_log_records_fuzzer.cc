// Fuzzes the walk over the bytes of one event-log read (service/event_log_records.h).
//
// The input is: one byte that picks the source looked for (even: "Wlclntfy", odd:
// "systemd-logind"), two bytes (little-endian) that give where the read is cut for the prefix
// check below, and the bytes of the read, the rest of the input, copied into a buffer of their
// own size so that a read past the end is the sanitizer's finding.
//
// Besides the sanitizers' findings it checks what the walk's contract says of any buffer:
//   - a record found has the source looked for and the information type;
//   - more bytes after a read change nothing that the read alone finds (a cut read finds what
//     the whole one finds, or nothing);
//   - a whole record of another source in front of the read changes nothing, and a whole
//     logon record in front of it is what is found.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "service/event_log_records.h"

namespace {

using halvorn::service::EventLogRecord;
using halvorn::service::FindLogonRecord;
using halvorn::service::kEventLogRecordFixedSize;
using halvorn::service::kEventTypeInformation;

constexpr char16_t kLogind[] = u"systemd-logind";

void Put32(std::vector<std::uint8_t>* out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    (*out)[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

// A whole record of `source` with the given type and record number.
std::vector<std::uint8_t> Record(std::u16string_view source,
                                 std::uint16_t type,
                                 std::uint32_t number) {
  std::vector<std::uint8_t> r(kEventLogRecordFixedSize, 0);
  for (const char16_t c : source) {
    r.push_back(static_cast<std::uint8_t>(c));
    r.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  r.insert(r.end(), {0, 0, 0, 0});  // the source's zero and an empty computer name
  while (r.size() % 4 != 0) {
    r.push_back(0);
  }
  r.resize(r.size() + 4);
  const auto length = static_cast<std::uint32_t>(r.size());
  Put32(&r, 0, length);
  Put32(&r, 8, number);
  r[24] = static_cast<std::uint8_t>(type);
  r[25] = static_cast<std::uint8_t>(type >> 8);
  Put32(&r, length - 4, length);
  return r;
}

bool Same(const std::optional<EventLogRecord>& a, const std::optional<EventLogRecord>& b) {
  if (a.has_value() != b.has_value()) {
    return false;
  }
  return !a || (a->recordNumber == b->recordNumber && a->timeGenerated == b->timeGenerated &&
                a->timeWritten == b->timeWritten && a->eventId == b->eventId &&
                a->eventType == b->eventType && a->eventCategory == b->eventCategory &&
                a->sourceName == b->sourceName);
}

std::optional<EventLogRecord> Walk(const std::vector<std::uint8_t>& bytes,
                                   std::u16string_view source) {
  return FindLogonRecord(std::span<const std::uint8_t>(bytes.data(), bytes.size()), source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) {
    return 0;
  }
  const std::u16string_view source =
      (data[0] & 1) != 0 ? std::u16string_view(kLogind) : halvorn::service::kLogonSource;
  const std::size_t cut = static_cast<std::size_t>(data[1] | data[2] << 8);
  const std::vector<std::uint8_t> read(data + 3, data + size);

  const std::optional<EventLogRecord> found = Walk(read, source);
  if (found && (found->sourceName != source || found->eventType != kEventTypeInformation)) {
    std::abort();  // a record that is not a logon record of the source
  }

  if (cut < read.size()) {
    const std::vector<std::uint8_t> prefix(read.begin(),
                                           read.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::optional<EventLogRecord> in_prefix = Walk(prefix, source);
    if (in_prefix && !Same(in_prefix, found)) {
      std::abort();  // the bytes after the cut changed what the cut read finds
    }
  }

  std::vector<std::uint8_t> behind_other = Record(u"EventLog", kEventTypeInformation, 7);
  behind_other.insert(behind_other.end(), read.begin(), read.end());
  if (!Same(Walk(behind_other, source), found)) {
    std::abort();  // a record of another source in front changed the answer
  }

  std::vector<std::uint8_t> behind_logon = Record(source, kEventTypeInformation, 0xC0FFEE);
  behind_logon.insert(behind_logon.end(), read.begin(), read.end());
  const std::optional<EventLogRecord> first = Walk(behind_logon, source);
  if (!first || first->recordNumber != 0xC0FFEE || first->sourceName != source) {
    std::abort();  // the logon record in front was not the one found
  }
  return 0;
}
