#include "util/log_helper.h"

#include <spdlog/async.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "util/common_util.h"
#include "util/log_folder_guard.h"
#include "util/log_helper_testing.h"
#include "util/platform.h"

namespace halvorn {

namespace {

constexpr const char* kLinePattern = "%Y-%m-%d %H:%M:%S.%e %v";
constexpr const char* kLineEnd = "\r\n";

std::string ThreadIdText() {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", platform::CurrentThreadId());
  return buf;
}

// The rotating log file, opened anew when it is gone while the service runs (its folder
// removed by a cleaning tool or by hand): the lines after that would otherwise go to a file
// that no longer has a name. The folder is made again with its protection, and the first line
// of the new file says what happened.
//
// Each line is written and flushed whole or not at all. A line that cannot be written (a full
// file system) would otherwise leave its first part in the file, with the next line written
// after glued to it: the file is cut back to its last whole line and the line is counted as
// lost. The first loss says so once on standard error (the journal under systemd); the first
// line written again is preceded by one that says how many were lost and why.
class ReopeningFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  // `fs` is the process's folder operations and outlives the logger.
  ReopeningFileSink(LogFolderPlatform& fs, std::string folder, std::string path)
      : fs_(fs), folder_(std::move(folder)), path_(std::move(path)), file_(Open()) {
    whole_size_ = FileSize();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    std::error_code error;
    if (!std::filesystem::exists(path_, error) && !error) {
      Reopen(msg);
    }
    if (lost_ > 0) {
      const std::string text = ThreadIdText() + " w :   " + std::to_string(lost_) +
                               " lines were not written: " + failure_;
      if (!WriteWhole(Note(msg, text))) {
        ++lost_;
        return;
      }
      lost_ = 0;
    }
    if (!WriteWhole(msg)) {
      if (lost_ == 0) {
        std::fprintf(stderr,
                     "halvorn: cannot write the log file: %s; lines are dropped until it can be "
                     "written again\n",
                     failure_.c_str());
      }
      ++lost_;
    }
  }
  void flush_() override {
    // Every line is flushed as it is written; nothing is left to fail here but a file that
    // could not be opened again.
    if (file_) {
      try {
        file_->flush();
      } catch (const spdlog::spdlog_ex&) {
        CutBackToWholeLines();
      }
    }
  }
  void set_pattern_(const std::string& pattern) override {
    set_formatter_(std::make_unique<spdlog::pattern_formatter>(pattern));
  }
  void set_formatter_(std::unique_ptr<spdlog::formatter> formatter) override {
    if (file_) {
      file_->set_formatter(formatter->clone());
    }
    formatter_ = std::move(formatter);
  }

 private:
  std::shared_ptr<spdlog::sinks::rotating_file_sink_st> Open() const {
    return std::make_shared<spdlog::sinks::rotating_file_sink_st>(path_, LogHelper::kMaxFileSize,
                                                                  LogHelper::kMaxFiles, false);
  }

  std::uintmax_t FileSize() const {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path_, error);
    return error ? 0 : size;
  }

  static spdlog::details::log_msg Note(const spdlog::details::log_msg& msg,
                                       const std::string& text) {
    return spdlog::details::log_msg(msg.time, msg.source, msg.logger_name, spdlog::level::warn,
                                    spdlog::string_view_t(text.data(), text.size()));
  }

  // Writes and flushes one line; false, with the file cut back to its last whole line, when
  // that fails.
  bool WriteWhole(const spdlog::details::log_msg& msg) {
    try {
      if (!file_) {
        file_ = Open();
        if (formatter_) {
          file_->set_formatter(formatter_->clone());
        }
      }
      file_->log(msg);
      file_->flush();
    } catch (const spdlog::spdlog_ex& e) {
      failure_ = e.what();
      CutBackToWholeLines();
      return false;
    }
    whole_size_ = FileSize();
    return true;
  }

  // Drops the open file (whatever of its buffer still reaches the disk) and cuts the file back
  // to the size it had after its last whole line. A file smaller than that was begun anew by
  // the rotation within the failed write, so all it holds is part of that line.
  void CutBackToWholeLines() {
    file_.reset();
    std::error_code error;
    const std::uintmax_t size = FileSize();
    if (size != whole_size_) {
      std::filesystem::resize_file(path_, size > whole_size_ ? whole_size_ : 0, error);
    }
    if (size < whole_size_) {
      whole_size_ = 0;
    }
    // Opened again at the next line.
  }

  void Reopen(const spdlog::details::log_msg& msg) {
    // A folder put back by another account is refused as at start: the lines stay unnamed.
    if (!MakeLogFolder(fs_, folder_, platform::ProgramDataFolder()).empty() ||
        !RefusedLogFile(fs_, path_).empty()) {
      return;
    }
    try {
      auto file = Open();
      file->set_formatter(formatter_->clone());
      const std::string text = ThreadIdText() + " w :   the log file was gone; written anew";
      file->log(Note(msg, text));
      file_ = std::move(file);
      whole_size_ = 0;
    } catch (const std::exception&) {
      // Not possible now (a full disk): the old file keeps the lines; tried again next line.
    }
  }

  LogFolderPlatform& fs_;
  const std::string folder_;
  const std::string path_;
  std::shared_ptr<spdlog::sinks::rotating_file_sink_st> file_;  // null after a failed write
  std::uintmax_t whole_size_ = 0;  // the file's size after its last whole line
  std::size_t lost_ = 0;           // lines not written since the last one that was
  std::string failure_;            // why the last line could not be written
};

// The sink of the in-memory start of tests (log_helper_testing.h): each line formatted by the
// logger's formatter, as the file sink formats it, kept whole in memory.
class InMemorySink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit InMemorySink(std::shared_ptr<InMemoryLogLines> lines) : lines_(std::move(lines)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    lines_->Append(std::string(formatted.data(), formatted.size()));
  }
  void flush_() override {}

 private:
  const std::shared_ptr<InMemoryLogLines> lines_;
};

void RunFolderCleanup(LogFolderPlatform& fs) {
  LogHelper::DeleteFileWhileExceedMaxSizeAndTime(fs, LogHelper::BuildLogFolderPath());
}

}  // namespace

LogFlushTimer::LogFlushTimer(std::chrono::milliseconds period, std::function<void()> flush)
    : period_(period), flush_(std::move(flush)), thread_([this] { Run(); }) {}

LogFlushTimer::~LogFlushTimer() {
  Stop();
}

void LogFlushTimer::LineQueued() {
  // Only the first line after a flush began wakes the timer; the rest find the mark set.
  if (queued_.load(std::memory_order_acquire) || queued_.exchange(true)) {
    return;
  }
  // Taken so that the wake-up cannot fall between the timer's look at the mark and its wait.
  std::lock_guard<std::mutex> hold(lock_);
  wake_.notify_one();
}

void LogFlushTimer::Stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void LogFlushTimer::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    // Idle: no timeout, so nothing wakes this thread until a line comes.
    wake_.wait(hold, [this] { return stop_ || queued_.load(std::memory_order_acquire); });
    if (stop_ || wake_.wait_for(hold, period_, [this] { return stop_; })) {
      return;
    }
    // Cleared before the flush is asked for: a line queued from here on may be behind the
    // flush in the logger's queue, so it marks the next period.
    queued_.store(false);
    hold.unlock();
    flush_();
    hold.lock();
  }
}

LogHelper& LogHelper::GetInstance() {
  // Never destroyed: threads of the logging library and of the system may log until the
  // process ends.
  static LogHelper* instance = new LogHelper();
  return *instance;
}

std::string LogHelper::BuildLogFolderPath() {
  std::string root = platform::ProgramDataFolder();
  if (root.empty()) {
    return {};
  }
  const char sep[2] = {platform::kPathSeparator, '\0'};
  std::string path =
      StrPrintf("%s%s%s%s%s%s", root, sep, kCompanyFolder, sep, kProductFolder, sep) +
      kLogSubFolder;
  // A path that does not fit its buffer is refused rather than cut: a cut path would name
  // some other folder.
  return path.size() < kPathBufferSize ? path : std::string();
}

std::string LogHelper::BuildLogFileName(const std::tm& t) {
  return StrPrintf("%s%s_%04d-%02d-%02d_%02d.%02d.%02d%s", kFilePrefix, kLogSubFolder,
                   t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                   kFileExtension);
}

std::string LogHelper::CurrentLogFilePath() {
  LogHelper& self = GetInstance();
  std::lock_guard<std::mutex> lock(self.state_lock_);
  return self.state_ == State::kRunning ? self.current_file_ : std::string();
}

void LogHelper::InitLogger(RegistryPlatform& registry, LogFolderPlatform& fs) {
  LogHelper& self = GetInstance();
  {
    std::lock_guard<std::mutex> lock(self.state_lock_);
    if (self.state_ == State::kRunning) {
      return;  // started once per process
    }
    const std::string folder = BuildLogFolderPath();
    std::string path;
    if (folder.empty()) {
      std::fprintf(stderr, "halvorn: the log folder path cannot be built; logging is off\n");
    } else {
      // A level or a file that another account could have put in place is not written to
      // (log_folder_guard.h); the cleanup refuses the same folder.
      const std::string refused_level = MakeLogFolder(fs, folder, platform::ProgramDataFolder());
      path = folder + platform::kPathSeparator + BuildLogFileName(platform::LocalTimeNow());
      const std::string refused_file = refused_level.empty() ? RefusedLogFile(fs, path) : "";
      if (path.size() >= kPathBufferSize) {
        std::fprintf(stderr, "halvorn: log file path too long; logging is off\n");
        path.clear();
      } else if (!refused_level.empty()) {
        std::fprintf(stderr, "halvorn: log folder %s; logging and the folder trim are off\n",
                     refused_level.c_str());
        path.clear();
      } else if (!refused_file.empty()) {
        std::fprintf(stderr, "halvorn: log file %s; logging is off\n", refused_file.c_str());
        path.clear();
      }
    }
    if (!path.empty()) {
      try {
        // The library's asynchronous factory with the blocking overflow policy, on the shared
        // pool (kQueueSlots messages, 1 worker; made here unless it is there already, as
        // another logger of the process may be on it); it registers the logger. Its sink is
        // the library's rotating file, opened anew when it goes while running.
        if (!spdlog::thread_pool()) {
          spdlog::init_thread_pool(kQueueSlots, 1);
        }
        self.Install(spdlog::create_async<ReopeningFileSink>(kLoggerName, fs, folder, path), path,
                     registry);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "halvorn: cannot open log file %s: %s; logging is off\n", path.c_str(),
                     e.what());
        spdlog::drop(kLoggerName);
      }
    }
  }
  // The cleanup runs on a thread of its own while start-up waits for it.
  try {
    std::async(std::launch::async, RunFolderCleanup, std::ref(fs)).wait();
  } catch (const std::exception&) {
    RunFolderCleanup(fs);  // no thread could be started: run it here
  }
}

void LogHelper::Install(const std::shared_ptr<spdlog::logger>& logger,
                        std::string file,
                        RegistryPlatform& registry) {
  logger->set_level(spdlog::level::trace);
  logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
      kLinePattern, spdlog::pattern_time_type::local, kLineEnd));
  logger->flush_on(spdlog::level::trace);
  // The flush of all registered loggers every 3 seconds, made only when the facade queued a
  // line since the last one: a flush with nothing written changes no file.
  std::unique_ptr<LogFlushTimer> flush_timer;
  try {
    flush_timer = std::make_unique<LogFlushTimer>(
        kFlushPeriod, [] { spdlog::apply_all([](auto l) { l->flush(); }); });
  } catch (const std::exception& e) {
    // Each line is still flushed after it is written (flush level trace).
    std::fprintf(stderr, "halvorn: no periodic log flush: %s\n", e.what());
  }
  {
    std::unique_lock<std::shared_mutex> installing(run_lock_);
    flush_timer_ = std::move(flush_timer);
    logger_ = logger;
    current_file_ = std::move(file);
    state_ = State::kRunning;
  }

  // The IsAll switch is read with the level off: these lines never reach the file.
  logger->set_level(spdlog::level::off);
  CommonUtil::ReadAllLogRegValue(registry);
  logger->set_level(spdlog::level::trace);
}

void InMemoryLogLines::Append(std::string line) {
  std::lock_guard<std::mutex> hold(lock_);
  lines_.push_back(std::move(line));
}

std::vector<std::string> InMemoryLogLines::Lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lines_;
}

std::string InMemoryLogLines::Text() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
  }
  return text;
}

std::size_t InMemoryLogLines::size() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lines_.size();
}

void StartLogHelperInMemoryForTesting(RegistryPlatform& registry,
                                      std::shared_ptr<InMemoryLogLines> lines) {
  LogHelper& self = LogHelper::GetInstance();
  std::lock_guard<std::mutex> lock(self.state_lock_);
  if (self.state_ == LogHelper::State::kRunning) {
    return;
  }
  if (!spdlog::thread_pool()) {
    spdlog::init_thread_pool(LogHelper::kQueueSlots, 1);
  }
  self.Install(spdlog::create_async<InMemorySink>(LogHelper::kLoggerName, std::move(lines)), "",
               registry);
}

void LogHelper::Shutdown() {
  LogHelper& self = GetInstance();
  std::lock_guard<std::mutex> lock(self.state_lock_);
  if (self.state_ != State::kRunning) {
    return;
  }
  // Waits for writers still inside the logger; later ones find the facade stopped.
  std::unique_lock<std::shared_mutex> stopping(self.run_lock_);
  self.state_ = State::kStopped;
  self.current_file_.clear();
  spdlog::drop_all();
  // Ends the periodic flush before the pool its flushes go through is released.
  if (self.flush_timer_) {
    self.flush_timer_->Stop();
  }
  // Drops every logger again and releases the shared pool, whose worker writes every queued
  // line (each followed by a flush) before it ends.
  spdlog::shutdown();
}

spdlog::logger* LogHelper::Running() const {
  return state_ == State::kRunning ? logger_.get() : nullptr;
}

void LogHelper::PrintV(unsigned code,
                       const char* tag,
                       const char* format,
                       std::span<const PrintfArg> args) {
  std::lock_guard<std::mutex> lock(print_lock_);
  std::shared_lock<std::shared_mutex> in_use(run_lock_);
  spdlog::logger* logger = Running();
  if (logger == nullptr || format == nullptr) {
    return;
  }
  char message[kMessageBufferSize];
  FormatPrintf(message, sizeof message, format, args);
  const std::string tid = ThreadIdText();
  const std::string_view text(message);
  switch (code) {
    case LogError:
      logger->log(spdlog::level::err, "{0} e :   {1}", tid, text);
      break;
    case LogInfo:
    case LogInfoAlt:
      logger->log(spdlog::level::info, "{0} i :   {1}", tid, text);
      break;
    case LogWarn:
      logger->log(spdlog::level::warn, "{0} w :   {1}", tid, text);
      break;
    case LogPlain:
      logger->log(spdlog::level::info, spdlog::string_view_t(text.data(), text.size()));
      break;
    case LogTagged:
      logger->log(spdlog::level::trace, "{0} h :   {1}, {2}", tid,
                  std::string_view(tag != nullptr ? tag : ""), text);
      break;
    default:
      return;  // unknown codes are dropped
  }
  MarkQueued();
}

void LogHelper::MarkQueued() {
  if (flush_timer_) {
    flush_timer_->LineQueued();
  }
}

void LogHelper::Trace(bool enter, const char* tag) {
  // No print lock: the library's queue takes concurrent producers.
  std::shared_lock<std::shared_mutex> in_use(run_lock_);
  spdlog::logger* logger = Running();
  if (logger == nullptr) {
    return;
  }
  const std::string_view name(tag != nullptr ? tag : "");
  if (enter) {
    logger->log(spdlog::level::info, "{0} h : + {1}", ThreadIdText(), name);
  } else {
    logger->log(spdlog::level::info, "{0} h : - {1}", ThreadIdText(), name);
  }
  MarkQueued();
}

void LogHelper::TraceEnter(const char* tag) {
  GetInstance().Trace(true, tag);
}

void LogHelper::TraceLeave(const char* tag) {
  GetInstance().Trace(false, tag);
}

}  // namespace halvorn
