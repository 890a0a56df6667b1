// The walk over the bytes of one event-log read: records laid out as the platform's event log
// record (little-endian), one after another, each led by its length in bytes.
//
//   offset  0 Length          4 Reserved       8 RecordNumber  12 TimeGenerated
//          16 TimeWritten    20 EventID       24 EventType (16) 26 NumStrings (16)
//          28 EventCategory (16) 30 ReservedFlags (16) 32 ClosingRecordNumber
//          36 StringOffset   40 UserSidLength 44 UserSidOffset 48 DataLength 52 DataOffset
//          56 SourceName: UTF-16, zero-terminated, then the computer name and the rest

#ifndef HALVORN_SERVICE_EVENT_LOG_RECORDS_H_
#define HALVORN_SERVICE_EVENT_LOG_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace halvorn::service {

inline constexpr std::size_t kEventLogRecordFixedSize = 56;
inline constexpr std::uint16_t kEventTypeInformation = 4;  // EVENTLOG_INFORMATION_TYPE
// The source of the logon records, compared exactly (letter case included).
inline constexpr char16_t kLogonSource[] = u"Wlclntfy";

struct EventLogRecord {
  std::uint32_t recordNumber = 0;
  std::uint32_t timeGenerated = 0;
  std::uint32_t timeWritten = 0;
  std::uint32_t eventId = 0;
  std::uint16_t eventType = 0;
  std::uint16_t eventCategory = 0;
  std::u16string sourceName;
};

// The first logon record of `bytes` (source `source`, "Wlclntfy" by default, information type)
// in buffer order, which is newest first for a backwards read. The walk stops at the end of the
// buffer and at the first record that does not fit what is left of it (a truncated or overlong
// record), is shorter than its fixed part, or has no terminated source name.
std::optional<EventLogRecord> FindLogonRecord(std::span<const std::uint8_t> bytes,
                                              std::u16string_view source = kLogonSource);

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_EVENT_LOG_RECORDS_H_
