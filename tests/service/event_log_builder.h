// Test support: event-log read buffers laid out as the platform's event log records (see
// service/event_log_records.h), built record by record.

#ifndef HALVORN_TESTS_SERVICE_EVENT_LOG_BUILDER_H_
#define HALVORN_TESTS_SERVICE_EVENT_LOG_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace halvorn::testing {

struct CannedRecord {
  std::u16string source = u"Wlclntfy";
  std::uint16_t eventType = 4;
  std::uint32_t recordNumber = 1;
  std::uint32_t eventId = 1001;
  std::uint16_t eventCategory = 0;
  std::uint32_t timeGenerated = 0;
  std::uint32_t timeWritten = 0;
  std::u16string computer = u"LAPTOP";
  // Replaces the length field (0: the record's real length).
  std::uint32_t lengthOverride = 0;
};

class EventLogBuffer {
 public:
  EventLogBuffer& Add(const CannedRecord& r) {
    std::vector<std::uint8_t> record(56, 0);
    auto put_wide = [&record](const std::u16string& text) {
      for (char16_t c : text) {
        record.push_back(static_cast<std::uint8_t>(c & 0xFF));
        record.push_back(static_cast<std::uint8_t>(c >> 8));
      }
      record.push_back(0);
      record.push_back(0);
    };
    put_wide(r.source);
    put_wide(r.computer);
    while (record.size() % 4 != 0) {
      record.push_back(0);
    }
    record.resize(record.size() + 4);  // the closing copy of the length
    const auto length = static_cast<std::uint32_t>(record.size());
    Put32(record, 0, r.lengthOverride != 0 ? r.lengthOverride : length);
    Put32(record, 4, 0x654c664c);  // "LfLe"
    Put32(record, 8, r.recordNumber);
    Put32(record, 12, r.timeGenerated);
    Put32(record, 16, r.timeWritten);
    Put32(record, 20, r.eventId);
    Put16(record, 24, r.eventType);
    Put16(record, 28, r.eventCategory);
    Put32(record, 56 - 4, 56);  // DataOffset: past the fixed part
    Put32(record, length - 4, length);
    bytes_.insert(bytes_.end(), record.begin(), record.end());
    return *this;
  }
  // Drops the last `count` bytes (a record cut by the end of the read).
  EventLogBuffer& Cut(std::size_t count) {
    bytes_.resize(bytes_.size() - count);
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  static void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  }
  static void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }

  std::vector<std::uint8_t> bytes_;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_EVENT_LOG_BUILDER_H_
