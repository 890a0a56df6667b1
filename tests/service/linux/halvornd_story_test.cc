// One life of the real halvornd on a simulated laptop, told as a timeline on the terminal: the
// start and each check of the job, the level going from 0 to 1; a sleep during which the modem
// falls back to 0, and the resume that brings it to 1 again; the modem unplugged and a modem at
// 0 plugged back in, brought to 1; the stop. Every step is checked, so the story is also a test;
// scripts/demo.sh shows it to a newcomer.
//
// The laptop is the one of the end-to-end tests (simulated_laptop.h): a listed model with the
// FCC-mode flag, the vendor's modem behind the MBIM simulator, the registry file with no value
// set; logind is python3-dbusmock's on a private bus. Runs under in_testbed.sh, as root.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "auth/linux/simulated_laptop.h"
#include "service/linux/daemon_harness.h"
#include "service/story_lines.h"
#include "support/linux/dbus_mock.h"

namespace halvorn::testing {
namespace {

constexpr auto kBound = std::chrono::seconds(60);  // a hang guard, never a speed goal

constexpr const char* kReady = "READY=1";
constexpr const char* kLockReleasedLine = "T i :   sleep delay lock released";

// The story's timeline: its own steps and the daemon's log lines worth showing, each with the
// seconds since the start.
class Timeline {
 public:
  explicit Timeline(Daemon& daemon) : daemon_(daemon) {}

  void Say(const char* heading, const std::string& text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("  %6.1f s  %-7s %s\n", seconds, heading, text.c_str());
    std::fflush(stdout);
  }

  // Shows the log's new lines worth showing until the log holds `line` `times` times.
  bool FollowUntil(const std::string& line, int times = 1) {
    return PollUntil(
        [&] {
          const std::vector<std::string> log = daemon_.Log();
          for (; shown_ < log.size(); ++shown_) {
            Show(log[shown_]);
          }
          return std::count(log.begin(), log.end(), line) >= times;
        },
        kBound);
  }

 private:
  void Show(const std::string& line) {
    if (const char* heading = StoryHeading(line)) {
      Say(heading, std::string(StoryText(line)));
    }
  }

  Daemon& daemon_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::size_t shown_ = 0;
};

// The last lines of a log, for a failure message.
std::string Tail(const std::vector<std::string>& log) {
  std::string text;
  for (std::size_t i = log.size() > 40 ? log.size() - 40 : 0; i < log.size(); ++i) {
    text += log[i] + "\n";
  }
  return text;
}

class HalvorndStory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* reason = SimulatedLaptop::SkipReason()) {
      GTEST_SKIP() << reason;
    }
    laptop_ = std::make_unique<SimulatedLaptop>();
    bool skip = false;
    const std::string error = logind_.Start("logind", "org.freedesktop.login1", &skip);
    if (skip) {
      GTEST_SKIP() << error;
    }
    ASSERT_EQ(error, "");
  }

  void PrepareForSleep(bool start) { halvorn::testing::PrepareForSleep(logind_, start); }

  std::unique_ptr<SimulatedLaptop> laptop_;
  DbusMock logind_;
  Daemon daemon_{HALVORND_PATH};
};

TEST_F(HalvorndStory, StartSleepAndResumeUnplugAndReplugStop) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  std::printf(
      "\nA laptop \"%s\" with the FCC-mode flag and the vendor's modem (USB %s:%s, wwan0) at "
      "radio level %d;\nthe registry file sets no value; logind is a mock on a private bus.\n\n",
      kListedLaptopAtLevelZero.model, kListedLaptopAtLevelZero.vendor,
      kListedLaptopAtLevelZero.product, laptop_->modem().level());
  Timeline timeline(daemon_);

  // Start: the job runs its checks and sets the level.
  ASSERT_TRUE(daemon_.Start());
  timeline.Say("start", "halvornd, pid " + std::to_string(daemon_.process().pid()));
  ASSERT_TRUE(daemon_.notify().WaitFor(kReady, kBound)) << daemon_.Output();
  timeline.Say("start", "running: systemd told READY=1");
  ASSERT_TRUE(timeline.FollowUntil(kStorySetLine)) << daemon_.Output();
  EXPECT_EQ(laptop_->modem().level(), 1);
  timeline.Say("modem", "level " + std::to_string(laptop_->modem().level()));

  // Sleep: the modem falls back to 0 while the laptop sleeps; the resume runs the job again.
  ASSERT_TRUE(timeline.FollowUntil(kStoryRemovedLine));
  PrepareForSleep(true);
  ASSERT_TRUE(timeline.FollowUntil(kLockReleasedLine));
  laptop_->modem().SetLevel(0);
  timeline.Say("modem", "level 0 while the laptop sleeps");
  PrepareForSleep(false);
  ASSERT_TRUE(timeline.FollowUntil(kStorySetLine, 2)) << "the resume did not set the level";
  EXPECT_EQ(laptop_->modem().level(), 1);
  timeline.Say("modem", "level " + std::to_string(laptop_->modem().level()));

  // Unplug and plug back: the new modem, at 0, is brought to 1.
  ASSERT_TRUE(timeline.FollowUntil(kStoryRemovedLine, 2));
  laptop_->Unplug();
  timeline.Say("unplug", "the modem is gone (udev: remove)");
  ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
  timeline.Say("plug", "a modem at level 0 is plugged in (udev: add)");
  ASSERT_TRUE(timeline.FollowUntil(kStorySetLine, 3)) << "the plugged modem was not set\n"
                                                      << Tail(daemon_.Log());
  EXPECT_EQ(laptop_->modem().level(), 1);
  timeline.Say("modem", "level " + std::to_string(laptop_->modem().level()));

  // Stop.
  ASSERT_TRUE(timeline.FollowUntil(kStoryJobEndLine, 3));
  daemon_.process().Signal(SIGTERM);
  timeline.Say("stop", "SIGTERM");
  const std::optional<int> status = daemon_.process().WaitForExit(kBound);
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
  timeline.FollowUntil(kStoryExitLine);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
  timeline.Say("stop", "halvornd ended with exit code " +
                           std::to_string(WIFEXITED(*status) ? WEXITSTATUS(*status) : -1));

  const std::vector<std::string> log = daemon_.Log();
  const auto jobs = std::count(log.begin(), log.end(), std::string(kStoryJobEndLine));
  const auto sets = std::count(log.begin(), log.end(), std::string(kStorySetLine));
  // The temporary folders go with the test; scripts/demo.sh asks for a copy of the log.
  std::filesystem::path log_path = LogFolderUnder(daemon_.folder());
  if (const char* keep = std::getenv("HALVORN_STORY_LOG_COPY"); keep != nullptr && *keep) {
    std::filesystem::remove_all(keep);
    std::filesystem::copy(log_path, keep);
    log_path = keep;
  }
  std::printf(
      "\nSummary: %ld runs of the job, %ld level sets (0 -> 1 at start, after the resume and "
      "after the replug);\nthe modem ends at level %d; halvornd stopped cleanly.\nLog: %s\n\n",
      static_cast<long>(jobs), static_cast<long>(sets), laptop_->modem().level(),
      log_path.string().c_str());
  EXPECT_EQ(sets, 3);
}

}  // namespace
}  // namespace halvorn::testing
