// The walk over the bytes of one event-log read.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "service/event_log_builder.h"
#include "service/event_log_records.h"

namespace halvorn::service {
namespace {

using testing::CannedRecord;
using testing::EventLogBuffer;

struct WalkCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::optional<std::uint32_t> found;  // the record number of the logon record found
};

CannedRecord Logon(std::uint32_t number) {
  CannedRecord r;
  r.recordNumber = number;
  return r;
}

CannedRecord Other(std::uint32_t number, std::u16string source, std::uint16_t type = 4) {
  CannedRecord r;
  r.recordNumber = number;
  r.source = std::move(source);
  r.eventType = type;
  return r;
}

std::vector<WalkCase> WalkCases() {
  CannedRecord overlong = Logon(7);
  overlong.lengthOverride = 40000;  // larger than any read buffer
  CannedRecord too_short = Logon(8);
  too_short.lengthOverride = 12;
  return {
      {"Empty", {}, std::nullopt},
      {"OneLogonRecord", EventLogBuffer().Add(Logon(5)).bytes(), 5},
      // Newest first: the first one in buffer order wins.
      {"SeveralLogonRecords", EventLogBuffer().Add(Logon(9)).Add(Logon(6)).Add(Logon(2)).bytes(),
       9},
      {"AfterOtherSources",
       EventLogBuffer()
           .Add(Other(12, u"MsiInstaller"))
           .Add(Other(11, u"Winlogon"))
           .Add(Logon(10))
           .bytes(),
       10},
      {"LetterCaseDiffers",
       EventLogBuffer().Add(Other(3, u"WlClntfy")).Add(Other(2, u"wlclntfy")).bytes(),
       std::nullopt},
      {"LongerSourceName", EventLogBuffer().Add(Other(3, u"WlclntfyX")).bytes(), std::nullopt},
      {"PrefixOfTheSource", EventLogBuffer().Add(Other(3, u"Wlclnt")).bytes(), std::nullopt},
      {"WarningTypeIsSkipped", EventLogBuffer().Add(Other(4, u"Wlclntfy", 2)).Add(Logon(3)).bytes(),
       3},
      {"ErrorTypeOnly", EventLogBuffer().Add(Other(4, u"Wlclntfy", 1)).bytes(), std::nullopt},
      // A record whose length runs past the end of the buffer ends the walk.
      {"OverlongRecord", EventLogBuffer().Add(overlong).Add(Logon(6)).bytes(), std::nullopt},
      {"TruncatedRecord", EventLogBuffer().Add(Other(2, u"Other")).Add(Logon(1)).Cut(6).bytes(),
       std::nullopt},
      {"TruncatedAfterTheLogonRecord", EventLogBuffer().Add(Logon(4)).Add(Logon(3)).Cut(10).bytes(),
       4},
      {"FixedPartCut", EventLogBuffer().Add(Logon(4)).Cut(30).bytes(), std::nullopt},
      // A length shorter than the fixed part would loop or read foreign bytes.
      {"LengthShorterThanFixedPart", EventLogBuffer().Add(too_short).Add(Logon(2)).bytes(),
       std::nullopt},
  };
}

TEST(EventLogRecordsTest, FindLogonRecord) {
  for (const WalkCase& c : WalkCases()) {
    SCOPED_TRACE(c.name);
    const std::optional<EventLogRecord> found = FindLogonRecord(c.bytes);
    ASSERT_EQ(found.has_value(), c.found.has_value());
    if (found) {
      EXPECT_EQ(found->recordNumber, *c.found);
    }
  }
}

TEST(EventLogRecordsTest, FieldsOfTheLogonRecord) {
  CannedRecord r;
  r.recordNumber = 0x01020304;
  r.eventId = 7001;
  r.eventCategory = 3;
  r.timeGenerated = 1704441780;
  r.timeWritten = 1704441789;
  const std::vector<std::uint8_t> bytes = EventLogBuffer().Add(r).bytes();
  const std::optional<EventLogRecord> found = FindLogonRecord(bytes);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->recordNumber, 0x01020304u);
  EXPECT_EQ(found->eventId, 7001u);
  EXPECT_EQ(found->eventType, 4);
  EXPECT_EQ(found->eventCategory, 3);
  EXPECT_EQ(found->timeGenerated, 1704441780u);
  EXPECT_EQ(found->timeWritten, 1704441789u);
  EXPECT_EQ(found->sourceName, u"Wlclntfy");
}

TEST(EventLogRecordsTest, SourceNameWithoutItsZeroInsideTheRecordEndsTheWalk) {
  // A record that is exactly its fixed part plus an unterminated name.
  std::vector<std::uint8_t> bytes = EventLogBuffer().Add(Logon(1)).bytes();
  const std::uint32_t length = 56 + 16;  // "Wlclntfy" without its zero
  bytes.resize(length);
  bytes[0] = static_cast<std::uint8_t>(length);
  EXPECT_FALSE(FindLogonRecord(bytes));
}

}  // namespace
}  // namespace halvorn::service
