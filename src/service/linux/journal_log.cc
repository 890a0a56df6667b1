#include "service/linux/journal_log.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "service/linux/journal_record.h"

namespace halvorn::service {

namespace {

struct JournalDeleter {
  void operator()(sd_journal* j) const { sd_journal_close(j); }
};
using ScopedJournal = std::unique_ptr<sd_journal, JournalDeleter>;

// The value of `field` of the current entry; empty when missing.
std::string Field(sd_journal* j, const char* field) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(j, field, &data, &length) < 0) {
    return {};
  }
  return std::string(JournalFieldValue(std::string_view(static_cast<const char*>(data), length)));
}

// The fields of the current entry that its record is made of.
JournalEntryFields FieldsOf(sd_journal* j) {
  JournalEntryFields entry;
  char* cursor = nullptr;
  if (sd_journal_get_cursor(j, &cursor) >= 0) {
    entry.cursor = cursor;
    std::free(cursor);
  }
  sd_journal_get_realtime_usec(j, &entry.realtime_usec);
  entry.source_realtime = Field(j, "_SOURCE_REALTIME_TIMESTAMP");
  entry.user_id = Field(j, "USER_ID");
  entry.priority = Field(j, "PRIORITY");
  entry.syslog_identifier = Field(j, "SYSLOG_IDENTIFIER");
  entry.hostname = Field(j, "_HOSTNAME");
  return entry;
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
        pending_ = JournalEntryRecord(FieldsOf(journal_.get()));
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
