// The real halvornd on the simulated laptop when its surroundings fail under it: the registry
// file replaced while it runs, the modem vanishing in the middle of a command, the process
// killed while it writes its log, the log folder removed while it runs. It keeps running
// where it can, and its log stays whole. Runs under in_testbed.sh, as root (the registry
// file).

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "auth/linux/simulated_laptop.h"
#include "service/linux/daemon_harness.h"

namespace halvorn::testing {
namespace {

using ::testing::Contains;

constexpr auto kBound = std::chrono::seconds(60);  // a hang guard, never a speed goal

constexpr const char* kSetLine = "T i :   SET MBIM FUN SUCCESS!";
constexpr const char* kRemovedLine = "T i :   after  delete task list size = 0";

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

class HalvorndEnvironmentTest : public NoBusLaptopTest {
 protected:
  // Starts the daemon and waits for the job at start to have set the level and left.
  void StartAndSettle() {
    ASSERT_TRUE(daemon_.Start());
    ASSERT_TRUE(daemon_.WaitForLog(kSetLine)) << daemon_.Output();
    ASSERT_TRUE(daemon_.WaitForLog(kRemovedLine)) << Join(daemon_.Log());
  }

  void StopCleanly() {
    daemon_.process().Signal(SIGTERM);
    const std::optional<int> status = daemon_.process().WaitForExit(kBound);
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
  }

  Daemon daemon_{HALVORND_PATH};
};

// An administrator's tool writes a new registry file and renames it over the old one: the next
// run of the job reads the new file.
TEST_F(HalvorndEnvironmentTest, ARegistryFileReplacedWhileRunningIsReadByTheNextRun) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_NO_FATAL_FAILURE(StartAndSettle());
  EXPECT_TRUE(daemon_.LogHas("T i :   Read IsDisableVerify = 0(False)"));

  const std::filesystem::path registry = std::getenv("HALVORN_REGISTRY_FILE");
  const std::filesystem::path fresh = registry.string() + ".new";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Wireless Inc\\Brevane]\r\n"
           "\"IsDisableVerify\"=dword:00000001\r\n";
  }
  std::filesystem::permissions(
      fresh, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                 std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  std::filesystem::rename(fresh, registry);

  laptop_->Unplug();
  ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
  ASSERT_TRUE(daemon_.WaitForLog(kSetLine, 2)) << Join(daemon_.Log());
  EXPECT_TRUE(daemon_.LogHas("T i :   Read IsDisableVerify = 1(True)")) << Join(daemon_.Log());
  EXPECT_EQ(laptop_->modem().level(), 1);
  ASSERT_NO_FATAL_FAILURE(StopCleanly());
}

// The modem goes away while the level query is in flight (it never answers; its port is
// gone): the job fails that run and says so, the service goes on, and the modem plugged back
// is brought to level 1.
TEST_F(HalvorndEnvironmentTest, AModemVanishingInTheMiddleOfACommandLeavesTheServiceRunning) {
  Laptop laptop = kListedLaptopAtLevelZero;
  laptop.fault = mbimsim::Fault::kVanish;
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(laptop));
  ASSERT_TRUE(daemon_.Start());
  ASSERT_TRUE(laptop_->modem().WaitForVanish(kBound)) << "the command never reached the modem";
  // The port link goes with the device, as udev's node would.
  laptop_->Unplug();
  ASSERT_TRUE(PollUntil(
      [&] {
        const std::vector<std::string> log = daemon_.Log();
        return std::any_of(log.begin(), log.end(), [](const std::string& l) {
          return l.rfind("T e :   GetMbimCfun failed", 0) == 0 ||
                 l.rfind("T e :   SetMbimCfun failed", 0) == 0;
        });
      },
      kBound))
      << Join(daemon_.Log());
  EXPECT_TRUE(daemon_.process().Running());

  ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
  ASSERT_TRUE(daemon_.WaitForLog(kSetLine)) << Join(daemon_.Log());
  EXPECT_EQ(laptop_->modem().level(), 1);
  ASSERT_NO_FATAL_FAILURE(StopCleanly());
}

// The log files of `folder`, one after another.
std::string ReadLogText(const std::filesystem::path& folder) {
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".log") {
      text += ReadFile(entry.path());
    }
  }
  return text;
}

// The pieces of `text` between two line ends that hold a line's time after their start: a
// line cut short with the next one glued to it. (Messages hold line breaks of their own, so a
// piece is not always a whole line.)
std::vector<std::string> CutLines(const std::string& text) {
  static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [0-9a-f]{8} [eiwh] : )");
  std::vector<std::string> cut;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    const std::string piece =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::smatch m;
    if (piece.size() > 1 && std::regex_search(piece.begin() + 1, piece.end(), m, stamp)) {
      cut.push_back(piece);
    }
    start = end == std::string::npos ? text.size() : end + 2;
  }
  return cut;
}

// Killed (SIGKILL) while the job writes: every line in the log is whole, at most the last
// one is cut. Messages hold line breaks of their own, so a cut shows as a line's time in the
// middle of a piece between two breaks (a cut line with the next one glued to it).
TEST_F(HalvorndEnvironmentTest, SigkillWhileWritingLeavesOnlyWholeLines) {
  const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [0-9a-f]{8} [eiwh] : )");
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    laptop_.reset();
    laptop_ = std::make_unique<SimulatedLaptop>();
    ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
    SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (laptop_->folder() / "no-bus").string());
    Daemon daemon(HALVORND_PATH);
    ASSERT_TRUE(daemon.Start());
    // A little later each round, from the first lines of the start to the job's set.
    ASSERT_TRUE(daemon.WaitForLog(round < 2 ? "T h : + CTaskAuthModule::doJob" : kSetLine));
    daemon.process().Signal(SIGKILL);
    ASSERT_TRUE(daemon.process().WaitForExit(kBound).has_value());

    const std::string text = ReadLogText(LogFolderUnder(daemon.folder()));
    ASSERT_FALSE(text.empty());
    std::smatch first;
    ASSERT_TRUE(std::regex_search(text, first, stamp));
    EXPECT_EQ(first.position(0), 0) << "the log does not start with a line";
    EXPECT_EQ(CutLines(text), std::vector<std::string>{});
    EXPECT_GT(std::count(text.begin(), text.end(), '\n'), 10);
  }
}

// The log folder is removed while the service runs (a cleaning tool, an administrator): the
// lines the service writes after that reach a log file again, in a log folder made anew.
TEST_F(HalvorndEnvironmentTest, ALogFolderRemovedWhileRunningIsMadeAgain) {
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_NO_FATAL_FAILURE(StartAndSettle());
  std::filesystem::remove_all(LogFolderUnder(daemon_.folder()));

  laptop_->Unplug();
  ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
  ASSERT_TRUE(PollUntil([&] { return laptop_->modem().level() == 1; }, kBound));
  EXPECT_TRUE(daemon_.WaitForLog(kSetLine, 1, std::chrono::seconds(10)))
      << "the lines after the removal went nowhere\n"
      << Join(daemon_.Log());
  EXPECT_EQ(daemon_.Log().front(), "T w :   the log file was gone; written anew")
      << "the new file does not start by saying what happened";
  ASSERT_NO_FATAL_FAILURE(StopCleanly());
}

// A small file system of its own at `path` for the life of the object (mounted in this mount
// namespace, taken off again when the object goes, also after a failed assertion).
class SmallTmpfs {
 public:
  SmallTmpfs(const std::filesystem::path& path, const char* size) : path_(path) {
    const std::string options = std::string("size=") + size + ",mode=0755";
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    error_ = mounted_ ? 0 : errno;
  }
  ~SmallTmpfs() {
    if (mounted_) {
      ::umount2(path_.c_str(), MNT_DETACH);
    }
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;
  bool mounted() const { return mounted_; }
  int error() const { return error_; }
  // Fills it up: a file of every free block but `keep_bytes`.
  bool Fill(const std::filesystem::path& filler, std::uintmax_t keep_bytes) const {
    struct statvfs st {};
    if (::statvfs(path_.c_str(), &st) != 0) {
      return false;
    }
    const std::uintmax_t free_bytes = static_cast<std::uintmax_t>(st.f_bavail) * st.f_frsize;
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'x');
    for (std::uintmax_t written = 0; written + keep_bytes + block.size() <= free_bytes;
         written += block.size()) {
      out << block;
    }
    return static_cast<bool>(out.flush());
  }

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
  int error_ = 0;
};

// The log folder's file system is full (a small one, filled up by another writer): the service
// goes on and its job still runs. What it could write is in the log as whole lines: a line cut
// by the full file system is taken out again, not left with the next one glued to it. It says
// so once on standard error, and once there is room again the first line written says how many
// lines were lost; the next run's lines are all there.
TEST_F(HalvorndEnvironmentTest, AFullFileSystemUnderTheLogFolder) {
  const std::filesystem::path folder = LogFolderUnder(daemon_.folder());
  std::filesystem::create_directories(folder);
  SmallTmpfs fs(folder, "256k");
  ASSERT_TRUE(fs.mounted()) << "mount tmpfs: " << std::strerror(fs.error());
  ASSERT_NO_FATAL_FAILURE(laptop_->Build(kListedLaptopAtLevelZero));
  ASSERT_NO_FATAL_FAILURE(StartAndSettle());
  const std::filesystem::path filler = folder / "filler.bin";
  ASSERT_TRUE(fs.Fill(filler, 0));

  laptop_->Unplug();
  ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
  ASSERT_TRUE(PollUntil([&] { return laptop_->modem().level() == 1; }, kBound))
      << "the job did not run with the log folder full";
  ASSERT_TRUE(PollUntil(
      [&] {
        return daemon_.Output().find("halvorn: cannot write the log file: ") != std::string::npos;
      },
      kBound))
      << "nothing said the log could not be written\n"
      << daemon_.Output();

  std::filesystem::remove(filler);
  // The finished task of the run while full leaves the task list 500 ms after it, unseen (its
  // line is lost); a plug within that window is merged into it. So the modem is plugged again
  // until a run takes it.
  bool set = false;
  for (int plug = 0; plug < 10 && !set; ++plug) {
    laptop_->Unplug();
    ASSERT_NO_FATAL_FAILURE(laptop_->Plug(0));
    set = PollUntil([&] { return laptop_->modem().level() == 1; }, std::chrono::seconds(3));
  }
  ASSERT_TRUE(set) << "no run after the room came back";
  ASSERT_TRUE(daemon_.WaitForLog(kSetLine, 2, std::chrono::seconds(10))) << Join(daemon_.Log());
  ASSERT_NO_FATAL_FAILURE(StopCleanly());

  // Said once on standard error.
  const std::string output = daemon_.Output();
  std::size_t said = 0;
  for (std::size_t at = output.find("halvorn: cannot write the log file: ");
       at != std::string::npos; at = output.find("halvorn: cannot write the log file: ", at + 1)) {
    ++said;
  }
  EXPECT_EQ(said, 1u) << output;
  EXPECT_NE(output.find("No space left on device"), std::string::npos) << output;

  const std::vector<std::string> log = daemon_.Log();
  const std::regex lost_line(
      R"(T w :   [1-9][0-9]* lines were not written: .*No space left on device)");
  const auto note = std::find_if(log.begin(), log.end(), [&](const std::string& line) {
    return std::regex_match(line, lost_line);
  });
  ASSERT_NE(note, log.end()) << Join(log);
  // After the note, the last run is whole: from its start to its end and the stop.
  EXPECT_TRUE(
      LinesInOrder(std::vector<std::string>(note, log.end()),
                   {"T h : + CTaskAuthModule::doJob", "T i :   GetMbimCfun Mode :  0", kSetLine,
                    "T h : - CTaskAuthModule::doJob", "T i :   Halvorn: Main: Exit"}));
  // And before it, the first run's lines, all of them.
  EXPECT_TRUE(LinesInOrder(std::vector<std::string>(log.begin(), note),
                           {"T h : + CTaskAuthModule::doJob", kSetLine,
                            "T h : - CTaskAuthModule::doJob", kRemovedLine}));
  EXPECT_EQ(CutLines(ReadLogText(folder)), std::vector<std::string>{});
}

}  // namespace
}  // namespace halvorn::testing
