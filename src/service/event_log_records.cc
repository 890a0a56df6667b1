#include "service/event_log_records.h"

#include "util/little_endian.h"

namespace halvorn::service {

namespace {

std::uint32_t Read32(std::span<const std::uint8_t> b, std::size_t at) {
  return LoadLe32(b, at);
}

std::uint16_t Read16(std::span<const std::uint8_t> b, std::size_t at) {
  return LoadLe16(b, at);
}

// The source name of a record: UTF-16 from the end of the fixed part up to its zero, which
// must lie within the record.
bool ReadSourceName(std::span<const std::uint8_t> record, std::u16string* name) {
  name->clear();
  for (std::size_t at = kEventLogRecordFixedSize; at + 1 < record.size(); at += 2) {
    const char16_t unit = static_cast<char16_t>(Read16(record, at));
    if (unit == u'\0') {
      return true;
    }
    name->push_back(unit);
  }
  return false;
}

}  // namespace

std::optional<EventLogRecord> FindLogonRecord(std::span<const std::uint8_t> bytes,
                                              std::u16string_view source) {
  std::size_t offset = 0;
  while (bytes.size() - offset >= kEventLogRecordFixedSize) {
    const std::span<const std::uint8_t> rest = bytes.subspan(offset);
    const std::uint32_t length = Read32(rest, 0);
    if (length < kEventLogRecordFixedSize || length > rest.size()) {
      break;  // truncated, overlong or malformed: nothing after it can be trusted
    }
    const std::span<const std::uint8_t> record = rest.first(length);
    EventLogRecord r;
    if (!ReadSourceName(record, &r.sourceName)) {
      break;
    }
    r.recordNumber = Read32(record, 8);
    r.timeGenerated = Read32(record, 12);
    r.timeWritten = Read32(record, 16);
    r.eventId = Read32(record, 20);
    r.eventType = Read16(record, 24);
    r.eventCategory = Read16(record, 28);
    if (r.sourceName == source && r.eventType == kEventTypeInformation) {
      return r;
    }
    offset += length;
  }
  return std::nullopt;
}

}  // namespace halvorn::service
