#include "service/linux/journal_log.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "util/platform.h"

namespace halvorn::service {

namespace {

struct JournalDeleter {
  void operator()(sd_journal* j) const { sd_journal_close(j); }
};
using ScopedJournal = std::unique_ptr<sd_journal, JournalDeleter>;

void Put32(std::vector<std::uint8_t>* out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    (*out)[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

void Put16(std::vector<std::uint8_t>* out, std::size_t at, std::uint16_t v) {
  (*out)[at] = static_cast<std::uint8_t>(v);
  (*out)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void AppendWide(std::vector<std::uint8_t>* out, const std::string& text) {
  for (const wchar_t c : platform::NarrowToWide(text)) {
    const auto unit = static_cast<std::uint16_t>(c > 0xFFFF ? u'?' : c);
    out->push_back(static_cast<std::uint8_t>(unit));
    out->push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  out->push_back(0);
  out->push_back(0);
}

// The value of `field` of the current entry; empty when missing.
std::string Field(sd_journal* j, const char* field) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(j, field, &data, &length) < 0) {
    return {};
  }
  const std::string_view entry(static_cast<const char*>(data), length);
  const std::size_t eq = entry.find('=');
  return eq == std::string_view::npos ? std::string() : std::string(entry.substr(eq + 1));
}

std::uint32_t Number(const std::string& text, int base) {
  if (text.empty()) {
    return 0;
  }
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, base);
  return *end == '\0' ? static_cast<std::uint32_t>(v) : 0;
}

// The sequence number of the current entry, from its cursor ("...;i=<hex>;...").
std::uint32_t SequenceNumber(sd_journal* j) {
  char* cursor = nullptr;
  if (sd_journal_get_cursor(j, &cursor) < 0) {
    return 0;
  }
  std::string text(cursor);
  std::free(cursor);
  const std::size_t at = text.find(";i=");
  if (at == std::string::npos) {
    return 0;
  }
  const std::size_t end = text.find(';', at + 3);
  return Number(text.substr(at + 3, end == std::string::npos ? end : end - at - 3), 16);
}

std::uint16_t EventTypeOf(const std::string& priority) {
  if (priority.empty()) {
    return kEventTypeInformation;
  }
  const std::uint32_t p = Number(priority, 10);
  if (p <= 3) {
    return 1;  // EVENTLOG_ERROR_TYPE
  }
  return p == 4 ? 2 : kEventTypeInformation;  // EVENTLOG_WARNING_TYPE
}

// The current entry as one event-log record.
std::vector<std::uint8_t> RecordOf(sd_journal* j) {
  std::vector<std::uint8_t> r(kEventLogRecordFixedSize, 0);
  std::uint64_t realtime = 0;
  sd_journal_get_realtime_usec(j, &realtime);
  const auto written = static_cast<std::uint32_t>(realtime / 1000000);
  const std::string source_time = Field(j, "_SOURCE_REALTIME_TIMESTAMP");
  const std::uint64_t generated_usec =
      source_time.empty() ? realtime : std::strtoull(source_time.c_str(), nullptr, 10);
  Put32(&r, 8, SequenceNumber(j));
  Put32(&r, 12, static_cast<std::uint32_t>(generated_usec / 1000000));
  Put32(&r, 16, written);
  Put32(&r, 20, Number(Field(j, "USER_ID"), 10));
  Put16(&r, 24, EventTypeOf(Field(j, "PRIORITY")));
  AppendWide(&r, Field(j, "SYSLOG_IDENTIFIER"));
  AppendWide(&r, Field(j, "_HOSTNAME"));
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

class JournalLog final : public EventLogReader {
 public:
  explicit JournalLog(ScopedJournal journal) : journal_(std::move(journal)) {}

  bool ReadBackwards(std::span<std::uint8_t> buffer,
                     std::uint32_t* read,
                     std::uint32_t* needed) override {
    std::size_t used = 0;
    *needed = 0;
    while (true) {
      if (pending_.empty()) {
        if (at_end_ || sd_journal_previous(journal_.get()) <= 0) {
          at_end_ = true;
          break;
        }
        pending_ = RecordOf(journal_.get());
      }
      if (pending_.size() > buffer.size() - used) {
        if (used == 0) {
          *needed = static_cast<std::uint32_t>(pending_.size());
          return false;
        }
        break;
      }
      std::memcpy(buffer.data() + used, pending_.data(), pending_.size());
      used += pending_.size();
      pending_.clear();
    }
    *read = static_cast<std::uint32_t>(used);
    return used > 0;
  }

 private:
  ScopedJournal journal_;
  std::vector<std::uint8_t> pending_;  // the entry read last, when it did not fit the buffer
  bool at_end_ = false;
};

}  // namespace

std::unique_ptr<EventLogReader> OpenJournalLog(const std::string& directory) {
  sd_journal* raw = nullptr;
  int r = 0;
  if (directory.empty()) {
    r = sd_journal_open(&raw, SD_JOURNAL_SYSTEM | SD_JOURNAL_LOCAL_ONLY);
  } else {
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return nullptr;
    }
    r = sd_journal_open_directory(&raw, directory.c_str(), 0);
  }
  if (r < 0) {
    return nullptr;
  }
  ScopedJournal journal(raw);
  const std::string match = std::string("MESSAGE_ID=") + kNewSessionMessageId;
  if (sd_journal_add_match(journal.get(), match.c_str(), 0) < 0 ||
      sd_journal_seek_tail(journal.get()) < 0) {
    return nullptr;
  }
  return std::make_unique<JournalLog>(std::move(journal));
}

}  // namespace halvorn::service
