// The journal as the service's Application event log: logind's new-session entries, newest
// first, handed out in the event-log record layout of event_log_records.h so that the shared
// walk and the "find logon time !!" line work unchanged.
//
// Which entries: those with MESSAGE_ID=8d45620c1a4348dbb17410da57c60c66 (a new session; the
// journal's own match). Which of them is the logon record stays the shared walk's decision:
// source "systemd-logind", information type. The fields of one record:
//
//   RecordNumber    the entry's sequence number in its journal file (the cursor's "i=")
//   TimeGenerated   _SOURCE_REALTIME_TIMESTAMP in seconds (when logind wrote the entry),
//                   else the entry's realtime timestamp
//   TimeWritten     the entry's realtime timestamp in seconds (when the journal received it)
//   EventID         USER_ID, the user whose session began (0 when missing)
//   EventType       from PRIORITY: 0-3 error (1), 4 warning (2), 5-7 or none information (4)
//   EventCategory   0
//   SourceName      SYSLOG_IDENTIFIER (UTF-16)
//   computer name   _HOSTNAME (UTF-16)

#ifndef HALVORN_SERVICE_LINUX_JOURNAL_LOG_H_
#define HALVORN_SERVICE_LINUX_JOURNAL_LOG_H_

#include <memory>
#include <string>

#include "service/linux/journal_record.h"
#include "service/power_events.h"

namespace halvorn::service {

inline constexpr const char* kNewSessionMessageId = "8d45620c1a4348dbb17410da57c60c66";

// The system journal when `directory` is empty, else the journal files in that directory.
// Null when the journal cannot be opened (also a directory that does not exist).
std::unique_ptr<EventLogReader> OpenJournalLog(const std::string& directory);

}  // namespace halvorn::service

#endif  // HALVORN_SERVICE_LINUX_JOURNAL_LOG_H_
