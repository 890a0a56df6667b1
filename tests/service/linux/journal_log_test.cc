// The journal as the event log of getLastLogTime: journal files that systemd-journal-remote
// builds from the export format, read by the real backend (LogindPower over a journal folder)
// and walked by the shared code; also damaged (cut short, garbage beside them, a folder in a
// file's place), where what cannot be read counts as no logon.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "service/linux/logind_power.h"
#include "service/power_events.h"
#include "support/linux/child_process.h"
#include "support/log_capture.h"

namespace halvorn::service {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kJournalRemote = "/lib/systemd/systemd-journal-remote";
constexpr const char* kNewSession = "8d45620c1a4348dbb17410da57c60c66";
constexpr const char* kOtherId = "b07a249cd024414a82dd00cd181378ff";
constexpr std::int64_t kBase = 1704441789;  // 2024-01-05 08:03:09 UTC

struct Entry {
  std::int64_t written;  // seconds; the source time lies half a second before
  const char* identifier;
  const char* message_id;
  const char* priority;
  int uid;
};

std::string Export(const std::vector<Entry>& entries) {
  std::string text;
  std::uint64_t monotonic = 1000;
  for (const Entry& e : entries) {
    char block[1024];
    std::snprintf(block, sizeof block,
                  "__REALTIME_TIMESTAMP=%lld000000\n__MONOTONIC_TIMESTAMP=%llu\n"
                  "_BOOT_ID=0123456789abcdef0123456789abcdef\nSYSLOG_IDENTIFIER=%s\n"
                  "MESSAGE=New session of user %d.\nPRIORITY=%s\nUSER_ID=%d\n_HOSTNAME=laptop\n"
                  "_SOURCE_REALTIME_TIMESTAMP=%lld500000\n",
                  static_cast<long long>(e.written), static_cast<unsigned long long>(monotonic),
                  e.identifier, e.uid, e.priority, e.uid, static_cast<long long>(e.written - 1));
    text += block;
    if (e.message_id != nullptr) {
      text += std::string("MESSAGE_ID=") + e.message_id + "\n";
    }
    text += "\n";
    monotonic += 1000;
  }
  return text;
}

std::string LocalText(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// What is wrong with the journal folder besides its entries.
enum class Damage {
  kNone,
  kCutShort,        // the journal file cut to its first 4 KiB (a disk that filled up, a crash)
  kGarbageBeside,   // a second ".journal" file of random bytes beside the good one
  kUnreadableFile,  // the journal file replaced by a folder of the same name
};

struct JournalCase {
  const char* name;
  bool journal;  // false: no journal folder at all
  std::vector<Entry> entries;
  // The logon expected: its sequence number (1 for the first entry), or 0 for none.
  std::uint32_t record;
  std::int64_t written;
  int uid;
  Damage damage = Damage::kNone;
};

Entry Logon(std::int64_t at, int uid) {
  return {at, "systemd-logind", kNewSession, "6", uid};
}

std::vector<JournalCase> Cases() {
  std::vector<JournalCase> cases = {
      {"NewestOfSeveralLogons",
       true,
       {Logon(kBase, 1000), Logon(kBase + 60, 1001), Logon(kBase + 3600, 1002)},
       3,
       kBase + 3600,
       1002},
      {"OtherWritersIdsAndPrioritiesAreSkipped",
       true,
       {Logon(kBase, 1000),
        {kBase + 10, "sshd", kNewSession, "6", 1001},
        {kBase + 20, "systemd-logind", kOtherId, "6", 1002},
        {kBase + 30, "systemd-logind", nullptr, "6", 1003},
        {kBase + 40, "Systemd-Logind", kNewSession, "6", 1004},
        {kBase + 50, "systemd-logind", kNewSession, "4", 1005}},
       1,
       kBase,
       1000},
      {"EmptyJournal", true, {}, 0, 0, 0},
      {"NoJournal", false, {}, 0, 0, 0},
  };
  // A logon behind more records than one read holds.
  JournalCase deep{"BehindMoreThanOneRead", true, {Logon(kBase, 1000)}, 1, kBase, 1000};
  for (int i = 0; i < 600; ++i) {
    deep.entries.push_back({kBase + 1 + i, "sshd", kNewSession, "6", 2000});
  }
  cases.push_back(deep);
  // A damaged journal is read as far as it can be; what cannot be read is no logon.
  const std::vector<Entry> logons = {Logon(kBase, 1000), Logon(kBase + 60, 1001)};
  cases.push_back({"CutShortFile", true, logons, 0, 0, 0, Damage::kCutShort});
  cases.push_back(
      {"GarbageBesideAGoodFile", true, logons, 2, kBase + 60, 1001, Damage::kGarbageBeside});
  cases.push_back({"FileThatIsAFolder", true, logons, 0, 0, 0, Damage::kUnreadableFile});
  // Other entries only.
  cases.push_back({"NoLogonEntry",
                   true,
                   {{kBase, "sshd", kNewSession, "6", 1000}, {kBase + 1, "cron", nullptr, "6", 0}},
                   0,
                   0,
                   0});
  return cases;
}

TEST(JournalLogTest, LastLogonTime) {
  if (!testing::Executable(kJournalRemote)) {
    GTEST_SKIP() << "needs " << kJournalRemote << " (Debian package systemd-journal-remote)";
  }
  for (const JournalCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const std::filesystem::path journal = dir.path() / "journal";
    if (c.journal) {
      std::filesystem::create_directory(journal);
    }
    if (!c.entries.empty()) {
      std::ofstream(dir.path() / "entries.export") << Export(c.entries);
      testing::Child remote;
      ASSERT_TRUE(remote.Start({kJournalRemote, "--output=" + (journal / "test.journal").string(),
                                (dir.path() / "entries.export").string()},
                               dir.path() / "remote.out"));
      const std::optional<int> status = remote.WaitForExit(std::chrono::seconds(60));
      ASSERT_TRUE(status.has_value() && *status == 0)
          << testing::ReadFile(dir.path() / "remote.out");
    }
    const std::filesystem::path file = journal / "test.journal";
    switch (c.damage) {
      case Damage::kNone:
        break;
      case Damage::kCutShort:
        std::filesystem::resize_file(file, 4096);
        break;
      case Damage::kGarbageBeside: {
        std::ofstream garbage(journal / "garbage.journal", std::ios::binary);
        std::uint32_t x = 2463534242u;
        for (int i = 0; i < 65536; ++i) {
          x ^= x << 13;
          x ^= x >> 17;
          x ^= x << 5;
          garbage.put(static_cast<char>(x & 0xff));
        }
        break;
      }
      case Damage::kUnreadableFile:
        std::filesystem::remove(file);
        std::filesystem::create_directory(file);
        break;
    }

    LogindPower power(journal.string());
    PowerEvents events(power, {});
    testing::LogCapture capture;
    char text[kTimeTextSize] = "untouched";
    std::int64_t logon = -1;
    const bool found = events.getLastLogTime(text, &logon);
    const std::vector<std::string> lines = capture.Lines();

    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "T i :   +getLastLogTime");
    if (!c.journal) {
      EXPECT_FALSE(found);
      EXPECT_STREQ(text, "untouched");
      EXPECT_EQ(logon, -1);
      EXPECT_EQ(lines.back(), "T e :   Could not open the Application event log.");
      continue;
    }
    EXPECT_EQ(lines.back(), "T i :   -getLastLogTime");
    if (c.record == 0) {
      EXPECT_FALSE(found);
      const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
      EXPECT_NEAR(static_cast<double>(logon),
                  static_cast<double>(now - PowerEvents::kSubstituteLogonSpanSeconds), 120.0);
      EXPECT_THAT(lines, Contains(HasSubstr("not find logon time")));
      EXPECT_THAT(lines, Not(Contains(HasSubstr("find logon time !!"))));
      continue;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(logon, c.written);
    EXPECT_EQ(text, LocalText(c.written));
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "T i :   find logon time !! 00 RecordNumber = %u ; Event ID: %08d EventType: 4 ; "
                  "EventCategory = 0 ; TimeGenerated = %lld ;TimeWritten = %lld(%s ) Source: "
                  "systemd-logind",
                  c.record, c.uid, static_cast<long long>(c.written - 1),
                  static_cast<long long>(c.written), LocalText(c.written).c_str());
    EXPECT_THAT(lines, Contains(std::string(expected)));
    const auto reads = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("T i :   dwRead = ", 0) == 0;
    });
    EXPECT_EQ(reads, c.entries.size() > 400 ? 2 : 1);
  }
}

}  // namespace
}  // namespace halvorn::service
