// Test support: runs the real logging facade with a private temporary program-data folder and
// gives back the lines it wrote, kept in memory or read back from the log file.

#ifndef HALVORN_TESTS_SUPPORT_LOG_CAPTURE_H_
#define HALVORN_TESTS_SUPPORT_LOG_CAPTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace halvorn {
class InMemoryLogLines;
}

namespace halvorn::testing {

// Sets an environment variable of this process (also for Windows API readers).
//
// Safe while other threads read the environment (GLib, libmbim and umockdev threads call
// getenv at any time) as long as the variable already exists: glibc overwrites a value in
// place, but adding a variable reallocates the environment array under a concurrent reader.
// The variables the product reads are therefore added, empty, before main; any other one is
// added by its first SetEnv, which must come before the test starts threads.
void SetEnv(const char* name, const std::string& value);
// Empties the variable, which every reader of ours takes as unset. On Linux the variable stays
// in the environment, for the reason above.
void UnsetEnv(const char* name);

// A fresh empty folder under the system temp folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The log folder under a program-data folder.
std::filesystem::path LogFolderUnder(const std::filesystem::path& programdata);
// Whole lines without their "\r\n" of every log file in `folder`, in file order (rotated files
// oldest first).
std::vector<std::string> ReadLogFolder(const std::filesystem::path& folder);
// Appends the lines of a log text to `lines`, cut as ReadLogFolder cuts a file: at each
// "\r\n", which is dropped; a last line without one is kept as it is.
void SplitLogText(const std::string& text, std::vector<std::string>& lines);
// Lines with the timestamp and the thread id masked, as LogCapture::Lines() shows them.
std::vector<std::string> MaskLogLines(const std::vector<std::string>& raw);

// Whether `wanted` appears in `lines` in that order, other lines between them allowed; the
// failure names the first line not found.
::testing::AssertionResult LinesInOrder(const std::vector<std::string>& lines,
                                        const std::vector<std::string>& wanted);

// Points "programdata" at a fresh folder (root()) and starts the facade with its lines kept in
// memory: each line formatted exactly as the file would hold it, but no log folder is made, no
// file is written and no start-up cleanup runs, so every line comes from the test. Lines()
// stops the facade (draining the queue) and returns what it wrote. Tests of the file itself
// (its folder, name, rotation, the start-up cleanup) use FileLogCapture.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::filesystem::path& root() const { return dir_.path(); }
  // Where the log folder is under root(); only a FileLogCapture makes it.
  std::filesystem::path log_folder() const;

  // Whole lines without their "\r\n", in the order written (from a file capture, in file
  // order, rotated files oldest first).
  std::vector<std::string> RawLines();
  // The payload of each line with the timestamp and the thread id masked:
  // "2023-01-09 16:00:45.123 0000abcd i :   text" becomes "T i :   text"; lines without
  // a thread id (code 5) become "T text". Start-up's own lines (the folder cleanup, up to
  // its exit trace line, which only a FileLogCapture's start writes) are left out.
  std::vector<std::string> Lines();
  // The same, start-up lines included.
  std::vector<std::string> AllLines();

 protected:
  enum class Sink { kMemory, kFile };
  explicit LogCapture(Sink sink);

 private:
  TempDir dir_;
  std::shared_ptr<InMemoryLogLines> memory_;  // null for a file capture
};

// The facade started as the service starts it, in the log folder under root(): the folder
// made with its protection, the log file opened, the folder cleanup run, and the lines read
// back from the files.
class FileLogCapture : public LogCapture {
 public:
  FileLogCapture() : LogCapture(Sink::kFile) {}
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SUPPORT_LOG_CAPTURE_H_
