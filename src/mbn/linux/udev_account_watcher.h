// The account watcher of the Linux build: a udev monitor on MBIM control ports. Once started,
// it reports each port present as added, then raises enumeration-completed once, then reports
// ports that are plugged in or removed. Handlers run on the watcher's own thread, one at a
// time; a handler never runs inside Start.

#ifndef HALVORN_MBN_LINUX_UDEV_ACCOUNT_WATCHER_H_
#define HALVORN_MBN_LINUX_UDEV_ACCOUNT_WATCHER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mbn/mbn_platform.h"
#include "util/linux/scoped_fd.h"
#include "util/linux/udev_handles.h"

namespace halvorn::mbn_linux {

class UdevAccountWatcher : public mbn_platform::AccountWatcher {
 public:
  // A watcher in state Created: the udev monitor exists but does not listen yet. Fails when
  // udev or the monitor cannot be had.
  static mbn_platform::CallResult Create(std::unique_ptr<mbn_platform::AccountWatcher>* watcher);

  // Stops the watcher's thread (a handler that runs is finished first).
  ~UdevAccountWatcher() override;

  mbn_platform::CallResult AddAccountAdded(std::function<void()> handler,
                                           std::int64_t* token) override;
  mbn_platform::CallResult AddAccountRemoved(std::function<void()> handler,
                                             std::int64_t* token) override;
  mbn_platform::CallResult AddEnumerationCompleted(std::function<void()> handler,
                                                   std::int64_t* token) override;
  mbn_platform::CallResult GetStatus(mbn_platform::WatcherStatus* status) override;
  // From Created, Stopped or Aborted: listens and starts the thread. A running watcher is
  // left as it is.
  mbn_platform::CallResult Start() override;

 private:
  enum class Event { kAdded, kRemoved, kEnumerated };

  UdevAccountWatcher(ScopedUdev context, ScopedUdevMonitor monitor, ScopedFd wake);
  mbn_platform::CallResult Add(Event event, std::function<void()> handler, std::int64_t* token);
  void Raise(Event event);
  void Run();
  // Thread: reports the ports present, then the enumeration's end.
  void Enumerate();
  // Thread: one uevent from the monitor.
  void ReceiveOne();

  ScopedUdev context_;  // used by the watcher's thread once it runs
  ScopedUdevMonitor monitor_;
  ScopedFd wake_;  // eventfd: the destructor wakes the thread through it
  bool listening_ = false;
  std::atomic<mbn_platform::WatcherStatus> status_{mbn_platform::WatcherStatus::kCreated};
  std::atomic<bool> stop_{false};

  std::mutex handlers_lock_;  // guards handlers_ and next_token_
  struct Registration {
    Event event;
    std::function<void()> handler;
  };
  std::vector<Registration> handlers_;
  std::int64_t next_token_ = 1;

  std::set<std::string> known_;  // syspaths of the ports reported; thread only
  std::thread thread_;
};

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_UDEV_ACCOUNT_WATCHER_H_
