// The process-wide logging facade: message lines at a numeric code, scope trace lines, and
// start-up and shutdown of the asynchronous file logger.
//
// Line shapes (after "YYYY-MM-DD HH:MM:SS.mmm "; {0} is the thread id as "%08x"):
//   code 1 "{0} e :   {1}"   code 2 and 4 "{0} i :   {1}"   code 3 "{0} w :   {1}"
//   code 5 the message alone   code 6 "{0} h :   {tag}, {1}"   other codes: nothing
//   TraceEnter "{0} h : + {tag}"   TraceLeave "{0} h : - {tag}"
// The message is formatted printf-style (see printf_format.h) and cut to 1023 bytes.
//
// Until InitLogger has run, and after Shutdown, every call returns without writing.

#ifndef HALVORN_UTIL_LOG_HELPER_H_
#define HALVORN_UTIL_LOG_HELPER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <thread>

#include "util/printf_format.h"

namespace spdlog {
class logger;
}

namespace halvorn {

class InMemoryLogLines;
class LogFolderPlatform;
class RegistryPlatform;

// The facade's codes, Print's first argument. The service's own lines use 1 and 2 only; 3 to 6
// stay because they are part of the facade's line formats, which logs read by others follow.
inline constexpr unsigned LogError = 1;
inline constexpr unsigned LogInfo = 2;
inline constexpr unsigned LogWarn = 3;
inline constexpr unsigned LogInfoAlt = 4;
inline constexpr unsigned LogPlain = 5;
inline constexpr unsigned LogTagged = 6;

// The periodic flush of the log: `flush` runs one period after the first line queued since the
// last flush, and not at all while no line is queued, so an idle process is not woken for a
// flush that would find nothing to write. Every line marked through LineQueued() is followed
// by a flush started at most one period later (or by Stop()'s caller draining the queue).
class LogFlushTimer {
 public:
  LogFlushTimer(std::chrono::milliseconds period, std::function<void()> flush);
  ~LogFlushTimer();  // Stop()
  LogFlushTimer(const LogFlushTimer&) = delete;
  LogFlushTimer& operator=(const LogFlushTimer&) = delete;

  // Call after a line was handed to the logger. Safe from any thread; after the first line
  // of a period it costs one atomic load.
  void LineQueued();

  // Ends the timer's thread without a last flush (a flush already running is finished first).
  // A second call does nothing.
  void Stop();

 private:
  void Run();

  const std::chrono::milliseconds period_;
  const std::function<void()> flush_;
  std::atomic<bool> queued_{false};  // a line was queued since the last flush began
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;  // guarded by lock_
  std::thread thread_;
};

class LogHelper {
 public:
  // Fixed names and limits of the log files.
  static constexpr const char* kLoggerName = "BrevaneLog";
  static constexpr const char* kCompanyFolder = "Tessary Wireless Inc";
  static constexpr const char* kProductFolder = "Brevane";
  static constexpr const char* kLogSubFolder = "VK20T";
  static constexpr const char* kFilePrefix = "tessary_brevane_monitor_";
  static constexpr const char* kFileExtension = ".log";
  static constexpr std::size_t kMaxFileSize = 1048576;
  static constexpr std::size_t kMaxFiles = 100;
  static constexpr std::size_t kPathBufferSize = 260;
  static constexpr std::size_t kMessageBufferSize = 1024;
  static constexpr std::chrono::seconds kFlushPeriod{3};
  // Slots of the queue between the callers and the writer thread. Every slot is made when the
  // logger starts (about 400 bytes each, its text buffer inline), so the queue is resident for
  // the process's life: the library's default of 8192 slots was 3.3 MB, most of the idle
  // daemon's own memory. A job writes about 200 lines; a caller that finds the queue full
  // waits for the writer, and no line is lost.
  static constexpr std::size_t kQueueSlots = 2048;

  static LogHelper& GetInstance();

  // Creates the log folder and the asynchronous file logger, then trims the folder and
  // waits for that. Never fails the caller: when the folder path cannot be built or the log
  // file cannot be opened, a line goes to standard error, the facade stays silent, and the
  // folder cleanup still runs (on a full disk it is what frees room for the next start).
  // A level of the folder or the log file that another account could have put in place (a
  // link, another owner, a folder others may write: log_folder_guard.h) is refused the same
  // way, with its reason; the cleanup then leaves that folder alone too.
  // `registry` serves the logging switches, `folder` the folder's making and trim; both must
  // outlive the call (the system's in a program: SystemRegistryPlatform() and
  // SystemLogFolderPlatform()).
  static void InitLogger(RegistryPlatform& registry, LogFolderPlatform& folder);

  template <class... Args>
  static void Print(unsigned code, const char* tag, const char* format, const Args&... args) {
    const PrintfArg packed[sizeof...(Args) + 1] = {PrintfArg(args)..., PrintfArg()};
    GetInstance().PrintV(code, tag, format, std::span<const PrintfArg>(packed, sizeof...(Args)));
  }

  static void TraceEnter(const char* tag);
  static void TraceLeave(const char* tag);

  // Drains every queued line to the file and stops the logging threads. A second call
  // does nothing.
  static void Shutdown();

  // Trims the log folder at start-up (oldest first, below 100 MiB and one day).
  static void DeleteFileWhileExceedMaxSizeAndTime(LogFolderPlatform& fs, const std::string& folder);

  // "<programdata>\Tessary Wireless Inc\Brevane\VK20T" with this build's separator; empty
  // when the program-data folder is unknown or the path does not fit 260 characters.
  static std::string BuildLogFolderPath();

  // The log file name for a local time: "tessary_brevane_monitor_VK20T_YYYY-MM-DD_hh.mm.ss.log".
  static std::string BuildLogFileName(const std::tm& local_time);

  // The file the logger writes, empty when not running. The cleanup never deletes it.
  static std::string CurrentLogFilePath();

  void PrintV(unsigned code, const char* tag, const char* format, std::span<const PrintfArg> args);

 private:
  enum class State { kNotStarted, kRunning, kStopped };

  // The in-memory start of tests (log_helper_testing.h) goes through Install as InitLogger does.
  friend void StartLogHelperInMemoryForTesting(RegistryPlatform& registry,
                                               std::shared_ptr<InMemoryLogLines> lines);

  LogHelper() = default;
  // Gives the new asynchronous `logger` the facade's level, line pattern and flush, installs
  // it as the running logger writing `file`, and reads the logging switches from `registry`.
  // Call with state_lock_ held and the facade not running.
  void Install(const std::shared_ptr<spdlog::logger>& logger,
               std::string file,
               RegistryPlatform& registry);
  void Trace(bool enter, const char* tag);
  // The logger while running, else null. Call with run_lock_ held.
  spdlog::logger* Running() const;
  // Tells the periodic flush that a line was queued. Call with run_lock_ held.
  void MarkQueued();

  std::mutex print_lock_;  // serialises PrintV
  std::mutex state_lock_;  // serialises InitLogger and Shutdown
  // Held shared by every writer while it uses the logger, and exclusively while the logger is
  // installed or shut down, so that no line is handed to a logger being torn down. Writers do
  // not serialise each other through it.
  std::shared_mutex run_lock_;
  // Written only under state_lock_ and run_lock_ (exclusive) together; read under either.
  State state_ = State::kNotStarted;
  // Kept after Shutdown (a logger without its pool); replaced by a later InitLogger.
  std::shared_ptr<spdlog::logger> logger_;
  // The 3-second flush of every registered logger while running; replaced with the logger.
  std::unique_ptr<LogFlushTimer> flush_timer_;
  std::string current_file_;
};

// The enter trace line of `tag` when made, its leave line when it goes: the leave line on every
// way out of a function, after its last line and after the locals made after the scope.
class TraceScope {
 public:
  explicit TraceScope(const char* tag) : tag_(tag) { LogHelper::TraceEnter(tag_); }
  ~TraceScope() { LogHelper::TraceLeave(tag_); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  const char* tag_;
};

}  // namespace halvorn

#endif  // HALVORN_UTIL_LOG_HELPER_H_
