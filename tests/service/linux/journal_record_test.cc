// The mapping of one journal entry's fields to an event-log record, read back by the shared
// walk: the fields as the journal hands them out, also malformed ones.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "service/event_log_records.h"
#include "service/linux/journal_record.h"

namespace halvorn::service {
namespace {

constexpr std::uint64_t kWrittenUsec = 1704441789'250000;  // 2024-01-05 08:03:09.25 UTC

JournalEntryFields Logon() {
  JournalEntryFields e;
  e.cursor = "s=0123456789abcdef;i=1a2;b=fedcba9876543210;m=3e8;t=60e1;x=77";
  e.realtime_usec = kWrittenUsec;
  e.source_realtime = "1704441788500000";
  e.user_id = "1000";
  e.priority = "6";
  e.syslog_identifier = "systemd-logind";
  e.hostname = "laptop";
  return e;
}

std::optional<EventLogRecord> ReadBack(const JournalEntryFields& e,
                                       std::u16string_view source = kLogindSource) {
  const std::vector<std::uint8_t> record = JournalEntryRecord(e);
  return FindLogonRecord(std::span<const std::uint8_t>(record), source);
}

TEST(JournalRecordTest, FieldsOfALogonEntry) {
  const std::optional<EventLogRecord> r = ReadBack(Logon());
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->recordNumber, 0x1a2u);
  EXPECT_EQ(r->timeGenerated, 1704441788u);
  EXPECT_EQ(r->timeWritten, 1704441789u);
  EXPECT_EQ(r->eventId, 1000u);
  EXPECT_EQ(r->eventType, kEventTypeInformation);
  EXPECT_EQ(r->eventCategory, 0u);
  EXPECT_EQ(r->sourceName, u"systemd-logind");
}

TEST(JournalRecordTest, RecordIsWholeForAnyTextLength) {
  for (const char* host : {"", "a", "ab", "abc", "abcd", "a-rather-long-host-name.example"}) {
    JournalEntryFields e = Logon();
    e.hostname = host;
    const std::vector<std::uint8_t> record = JournalEntryRecord(e);
    const auto read32 = [&record](std::size_t at) {
      return static_cast<std::uint32_t>(record[at] | record[at + 1] << 8 | record[at + 2] << 16 |
                                        record[at + 3] << 24);
    };
    SCOPED_TRACE(host);
    EXPECT_EQ(record.size() % 4, 0u);
    EXPECT_EQ(read32(0), record.size());
    EXPECT_EQ(read32(record.size() - 4), record.size());
    EXPECT_TRUE(ReadBack(e).has_value());
  }
}

TEST(JournalRecordTest, EventTypeOfPriority) {
  const struct {
    const char* priority;
    std::uint16_t type;
  } cases[] = {
      {"", kEventTypeInformation},
      {"0", 1},
      {"3", 1},
      {"4", 2},
      {"5", kEventTypeInformation},
      {"7", kEventTypeInformation},
      // Not a decimal number: counted as 0, an error, so never taken for a logon.
      {"-1", 1},
      {"+6", 1},
      {" 6", 1},
      {"6 ", 1},
      {"six", 1},
      {"99999999999999999999999", 1},  // beyond 64 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JournalEventType(c.priority), c.type) << '"' << c.priority << '"';
  }
}

TEST(JournalRecordTest, MalformedNumbersReadAsZeroOrFallBack) {
  const struct {
    const char* name;
    const char* cursor;
    const char* source_realtime;
    const char* user_id;
    std::uint32_t record_number;
    std::uint32_t generated;
    std::uint32_t user;
  } cases[] = {
      {"NoSequenceInCursor", "s=01;b=02;m=3", "1704441788500000", "1000", 0, 1704441788, 1000},
      {"SequenceLastInCursor", "s=01;i=ff", "1704441788500000", "1000", 0xff, 1704441788, 1000},
      {"SequenceNotHex", "s=01;i=zz;b=02", "1704441788500000", "1000", 0, 1704441788, 1000},
      {"EmptyCursor", "", "1704441788500000", "1000", 0, 1704441788, 1000},
      // A source time that is not a number: the journal's own time stands in.
      {"SourceTimeMissing", "s=01;i=1", "", "1000", 1, 1704441789, 1000},
      {"SourceTimeNotANumber", "s=01;i=1", "12x", "1000", 1, 1704441789, 1000},
      {"UserMissing", "s=01;i=1", "1704441788500000", "", 1, 1704441788, 0},
      {"UserNegative", "s=01;i=1", "1704441788500000", "-5", 1, 1704441788, 0},
      {"UserWithSpace", "s=01;i=1", "1704441788500000", "1000 ", 1, 1704441788, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JournalEntryFields e = Logon();
    e.cursor = c.cursor;
    e.source_realtime = c.source_realtime;
    e.user_id = c.user_id;
    const std::optional<EventLogRecord> r = ReadBack(e);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->recordNumber, c.record_number);
    EXPECT_EQ(r->timeGenerated, c.generated);
    EXPECT_EQ(r->eventId, c.user);
  }
}

TEST(JournalRecordTest, IdentifierAsTheWalkSeesIt) {
  // A zero byte ends the source name; characters beyond the basic plane become '?'.
  JournalEntryFields e = Logon();
  e.syslog_identifier = std::string("systemd-logind\0spoof", 20);
  EXPECT_TRUE(ReadBack(e).has_value());
  e.syslog_identifier = "logind-\xF0\x9F\x98\x80-\xC3\xA9";
  const std::optional<EventLogRecord> r = ReadBack(e, u"logind-?-\u00e9");
  ASSERT_TRUE(r.has_value());
  e.syslog_identifier = "Systemd-Logind";
  EXPECT_FALSE(ReadBack(e).has_value());  // compared exactly
}

TEST(JournalRecordTest, FieldValueAfterTheFirstEqualsSign) {
  EXPECT_EQ(JournalFieldValue("USER_ID=1000"), "1000");
  EXPECT_EQ(JournalFieldValue("MESSAGE=a=b"), "a=b");
  EXPECT_EQ(JournalFieldValue("EMPTY="), "");
  EXPECT_EQ(JournalFieldValue("NO_EQUALS_SIGN"), "");
}

}  // namespace
}  // namespace halvorn::service
