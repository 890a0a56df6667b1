#include "service/linux/journal_record.h"

#include <charconv>

#include "util/platform.h"

namespace halvorn::service {

namespace {

void Put32(std::vector<std::uint8_t>* out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    (*out)[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

void Put16(std::vector<std::uint8_t>* out, std::size_t at, std::uint16_t v) {
  (*out)[at] = static_cast<std::uint8_t>(v);
  (*out)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// `text` as UTF-16, zero-terminated; characters beyond the basic plane become '?'.
void AppendWide(std::vector<std::uint8_t>* out, std::string_view text) {
  for (const wchar_t c : platform::NarrowToWide(text)) {
    const auto unit = static_cast<std::uint16_t>(static_cast<std::uint32_t>(c) > 0xFFFF ? u'?' : c);
    out->push_back(static_cast<std::uint8_t>(unit));
    out->push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  out->push_back(0);
  out->push_back(0);
}

// The whole of `text` as a number in `base`; none for anything else (also empty text, a sign,
// spaces or a value beyond 64 bits).
bool ParseNumber(std::string_view text, int base, std::uint64_t* value) {
  const char* const end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, *value, base);
  return !text.empty() && error == std::errc() && at == end;
}

std::uint32_t Number32(std::string_view text, int base) {
  std::uint64_t v = 0;
  return ParseNumber(text, base, &v) ? static_cast<std::uint32_t>(v) : 0;
}

}  // namespace

std::string_view JournalFieldValue(std::string_view data) {
  const std::size_t eq = data.find('=');
  return eq == std::string_view::npos ? std::string_view() : data.substr(eq + 1);
}

std::uint32_t JournalSequenceNumber(std::string_view cursor) {
  const std::size_t at = cursor.find(";i=");
  if (at == std::string_view::npos) {
    return 0;
  }
  const std::string_view rest = cursor.substr(at + 3);
  return Number32(rest.substr(0, rest.find(';')), 16);
}

std::uint16_t JournalEventType(std::string_view priority) {
  if (priority.empty()) {
    return kEventTypeInformation;
  }
  const std::uint32_t p = Number32(priority, 10);
  if (p <= 3) {
    return 1;  // EVENTLOG_ERROR_TYPE
  }
  return p == 4 ? 2 : kEventTypeInformation;  // EVENTLOG_WARNING_TYPE
}

std::vector<std::uint8_t> JournalEntryRecord(const JournalEntryFields& entry) {
  std::vector<std::uint8_t> r(kEventLogRecordFixedSize, 0);
  // When logind wrote the entry, else when the journal received it.
  std::uint64_t generated_usec = 0;
  if (!ParseNumber(entry.source_realtime, 10, &generated_usec)) {
    generated_usec = entry.realtime_usec;
  }
  Put32(&r, 8, JournalSequenceNumber(entry.cursor));
  Put32(&r, 12, static_cast<std::uint32_t>(generated_usec / 1000000));
  Put32(&r, 16, static_cast<std::uint32_t>(entry.realtime_usec / 1000000));
  Put32(&r, 20, Number32(entry.user_id, 10));
  Put16(&r, 24, JournalEventType(entry.priority));
  AppendWide(&r, entry.syslog_identifier);
  AppendWide(&r, entry.hostname);
  while (r.size() % 4 != 0) {
    r.push_back(0);
  }
  r.resize(r.size() + 4);  // the closing copy of the length
  const auto length = static_cast<std::uint32_t>(r.size());
  Put32(&r, 0, length);
  Put32(&r, 4, 0x654c664c);  // "LfLe"
  Put32(&r, length - 4, length);
  return r;
}

}  // namespace halvorn::service
