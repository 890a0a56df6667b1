// Fuzzes the mapping of journal entries to event-log records (service/linux/journal_record.h)
// and the shared walk over the records it makes, as the journal's reader hands them out one
// after another.
//
// The input is read by FuzzedDataProvider: a count of entries (up to 8), then for each its
// realtime timestamp and its fields (cursor, source time, user, priority, identifier, host
// name) as strings of any bytes, and last the source looked for ("systemd-logind" or the
// first entry's identifier).
//
// Besides the sanitizers' findings it checks:
//   - each record is whole: its length a multiple of four, at least the fixed part, led and
//     closed by it, and read back alone by the walk as the entry's own fields (its identifier
//     up to a zero character, the decimal user id, the sequence number of a cursor's "i=");
//   - over all the records, the walk finds the first entry of the source with an information
//     priority, or nothing when there is none.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "service/event_log_records.h"
#include "service/linux/journal_record.h"
#include "util/platform.h"

namespace {

using halvorn::service::EventLogRecord;
using halvorn::service::FindLogonRecord;
using halvorn::service::JournalEntryFields;
using halvorn::service::JournalEntryRecord;

constexpr std::size_t kMaxEntries = 8;
constexpr std::size_t kMaxField = 256;

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A timestamp in microseconds as the record's 32-bit seconds.
std::uint32_t Seconds(std::uint64_t usec) {
  return static_cast<std::uint32_t>(usec / 1000000);
}

// The source name a record of `identifier` carries: its UTF-16 up to the first zero.
std::u16string SourceOf(const std::string& identifier) {
  std::u16string out;
  for (const wchar_t c : halvorn::platform::NarrowToWide(identifier)) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code == 0) {
      break;
    }
    out.push_back(code > 0xFFFF ? u'?' : static_cast<char16_t>(code));
  }
  return out;
}

// The value of a decimal text of at most nine digits, the only ones that surely fit.
std::optional<std::uint32_t> ShortDecimal(const std::string& text) {
  if (text.empty() || text.size() > 9) {
    return std::nullopt;
  }
  std::uint32_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return v;
}

// The information type: a missing priority, or 5, 6 or 7 written plainly.
bool Informational(const std::string& priority) {
  const std::optional<std::uint32_t> p = ShortDecimal(priority);
  return priority.empty() || (p && *p >= 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<JournalEntryFields> entries(in.ConsumeIntegralInRange<std::size_t>(0, kMaxEntries));
  for (JournalEntryFields& e : entries) {
    e.realtime_usec = in.ConsumeIntegral<std::uint64_t>();
    e.cursor = in.ConsumeRandomLengthString(kMaxField);
    e.source_realtime = in.ConsumeRandomLengthString(kMaxField);
    e.user_id = in.ConsumeRandomLengthString(kMaxField);
    e.priority = in.ConsumeRandomLengthString(kMaxField);
    e.syslog_identifier = in.ConsumeRandomLengthString(kMaxField);
    e.hostname = in.ConsumeRandomLengthString(kMaxField);
  }
  const std::u16string source = in.ConsumeBool() && !entries.empty()
                                    ? SourceOf(entries.front().syslog_identifier)
                                    : std::u16string(halvorn::service::kLogindSource);

  std::vector<std::uint8_t> all;
  std::optional<std::size_t> expected;  // the entry the walk over all of them must find
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const JournalEntryFields& e = entries[i];
    const std::vector<std::uint8_t> record = JournalEntryRecord(e);
    if (record.size() < halvorn::service::kEventLogRecordFixedSize || record.size() % 4 != 0 ||
        Read32(record, 0) != record.size() || Read32(record, record.size() - 4) != record.size()) {
      std::abort();  // not a whole record
    }
    const std::u16string own = SourceOf(e.syslog_identifier);
    const std::optional<EventLogRecord> alone =
        FindLogonRecord(std::span<const std::uint8_t>(record), own);
    if (alone.has_value() != (halvorn::service::JournalEventType(e.priority) ==
                              halvorn::service::kEventTypeInformation)) {
      std::abort();  // the walk does not read the record back under its own source
    }
    if (alone) {
      if (alone->sourceName != own || alone->timeWritten != Seconds(e.realtime_usec)) {
        std::abort();
      }
      if (const std::optional<std::uint32_t> uid = ShortDecimal(e.user_id);
          uid ? alone->eventId != *uid : (e.user_id.empty() && alone->eventId != 0)) {
        std::abort();  // not the entry's user
      }
      if (!Informational(e.priority) && !e.priority.empty() &&
          ShortDecimal(e.priority).has_value()) {
        std::abort();  // a plain error or warning priority read as information
      }
      const std::size_t at = e.cursor.find(";i=");
      if (at == std::string::npos && alone->recordNumber != 0) {
        std::abort();  // a sequence number from a cursor without one
      }
      if (const std::optional<std::uint32_t> generated = ShortDecimal(e.source_realtime);
          generated && alone->timeGenerated != Seconds(*generated)) {
        std::abort();  // not the source time
      }
    }
    if (!expected && own == source && alone) {
      expected = i;
    }
    all.insert(all.end(), record.begin(), record.end());
  }

  const std::optional<EventLogRecord> found =
      FindLogonRecord(std::span<const std::uint8_t>(all), source);
  if (found.has_value() != expected.has_value()) {
    std::abort();  // the walk over the reader's records missed the logon or found another
  }
  if (found) {
    const JournalEntryFields& e = entries[*expected];
    if (found->recordNumber != halvorn::service::JournalSequenceNumber(e.cursor) ||
        found->timeWritten != Seconds(e.realtime_usec)) {
      std::abort();  // another entry than the first logon
    }
  }
  return 0;
}
