// One journal entry as one event-log record (the layout of event_log_records.h), from the
// entry's fields as the journal hands them out: free of sd-journal, so that the mapping can be
// tested and fuzzed on its own. The fields of the record are those listed in journal_log.h.

#ifndef HALVORN_SERVICE_LINUX_JOURNAL_RECORD_H_
#define HALVORN_SERVICE_LINUX_JOURNAL_RECORD_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/event_log_records.h"

namespace halvorn::service {

// The source of the logon records on this build: logind's SYSLOG_IDENTIFIER.
inline constexpr char16_t kLogindSource[] = u"systemd-logind";

// What the journal gives for one entry; each text as stored (any bytes), empty when missing.
struct JournalEntryFields {
  std::string cursor;  // the entry's cursor ("s=...;i=<hex>;b=..."); empty when unavailable
  std::uint64_t realtime_usec = 0;  // the entry's realtime timestamp
  std::string source_realtime;      // _SOURCE_REALTIME_TIMESTAMP, microseconds in decimal
  std::string user_id;              // USER_ID, decimal
  std::string priority;             // PRIORITY, decimal
  std::string syslog_identifier;    // SYSLOG_IDENTIFIER (UTF-8)
  std::string hostname;             // _HOSTNAME (UTF-8)
};

// The value of a journal data field "NAME=value": what follows the first '='; empty without
// one.
std::string_view JournalFieldValue(std::string_view data);

// The sequence number of a cursor's "i=" part (hexadecimal); 0 when missing or malformed.
std::uint32_t JournalSequenceNumber(std::string_view cursor);

// The event type of a PRIORITY value: 0-3 error (1), 4 warning (2), 5-7 or none information
// (4); a value that is not a decimal number counts as 0.
std::uint16_t JournalEventType(std::string_view priority);

// The entry as one whole record: its length a multiple of four, led and closed by it.
std::vector<std::uint8_t> JournalEntryRecord(const JournalEntryFields& entry);

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_LINUX_JOURNAL_RECORD_H_
