// The account watcher of the Linux build: a udev monitor on MBIM control ports. Once started,
// it reports each port present as added, then raises enumeration-completed once, then reports
// ports that are plugged in or removed.
//
// udev is read on the GLib thread: the monitor's socket is a source of its context, so that
// no thread of the watcher waits for events. The handlers run on a delivery thread of the
// watcher, one at a time, in the order of the events; never on the GLib thread, since a
// handler may use the runtime, whose calls wait for that thread; never inside Start. The
// delivery thread lives only while events wait for their handlers.

#ifndef HALVORN_MBN_LINUX_UDEV_ACCOUNT_WATCHER_H_
#define HALVORN_MBN_LINUX_UDEV_ACCOUNT_WATCHER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mbn/linux/glib_thread.h"
#include "mbn/linux/glib_types.h"
#include "mbn/mbn_platform.h"
#include "util/linux/udev_handles.h"

namespace halvorn::mbn_linux {

class UdevAccountWatcher : public mbn_platform::AccountWatcher {
 public:
  // A watcher in state Created, watching on `glib` once started (`glib` outlives it): the
  // udev monitor exists but does not listen yet. Fails when udev or the monitor cannot be had.
  static mbn_platform::CallResult Create(GlibThread& glib,
                                         std::unique_ptr<mbn_platform::AccountWatcher>* watcher);

  // Stops watching; once it returns, no handler runs: one that runs is finished first, and
  // events not yet handed to the handlers are dropped. Not to be called on the GLib thread
  // or in a handler of this watcher.
  ~UdevAccountWatcher() override;

  mbn_platform::CallResult AddAccountAdded(std::function<void()> handler,
                                           std::int64_t* token) override;
  mbn_platform::CallResult AddAccountRemoved(std::function<void()> handler,
                                             std::int64_t* token) override;
  mbn_platform::CallResult AddEnumerationCompleted(std::function<void()> handler,
                                                   std::int64_t* token) override;
  mbn_platform::CallResult GetStatus(mbn_platform::WatcherStatus* status) override;
  // From Created, Stopped or Aborted: listens, and has the GLib thread enumerate the ports
  // present and then watch the monitor. A running watcher is left as it is.
  mbn_platform::CallResult Start() override;

 private:
  enum class Event { kAdded, kRemoved, kEnumerated };

  UdevAccountWatcher(GlibThread& glib, ScopedUdev context, ScopedUdevMonitor monitor);
  mbn_platform::CallResult Add(Event event, std::function<void()> handler, std::int64_t* token);

  // GLib thread: reports the ports present, then the enumeration's end, then watches.
  void Watch();
  static gboolean OnMonitorReady(gint fd, GIOCondition condition, gpointer data);
  // GLib thread: one uevent from the monitor.
  void ReceiveOne();
  // GLib thread: queues the event for the handlers, and starts a delivery thread when none
  // runs.
  void Hand(Event event);
  // Delivery thread: runs the handlers of the queued events until none is left.
  void Deliver();
  void Raise(Event event);

  GlibThread& glib_;
  ScopedUdev context_;  // used on the GLib thread once started
  ScopedUdevMonitor monitor_;
  bool listening_ = false;
  std::atomic<mbn_platform::WatcherStatus> status_{mbn_platform::WatcherStatus::kCreated};

  std::mutex handlers_lock_;  // guards handlers_ and next_token_
  struct Registration {
    Event event;
    std::function<void()> handler;
  };
  std::vector<Registration> handlers_;
  std::int64_t next_token_ = 1;

  // GLib thread only.
  AttachedSourcePtr source_;     // the monitor's socket, while watched
  std::set<std::string> known_;  // syspaths of the ports reported

  std::mutex delivery_lock_;  // guards the members below
  std::deque<Event> pending_;
  bool delivering_ = false;  // a delivery thread runs, or has been made to
  bool closed_ = false;      // the destructor runs: nothing more is delivered
  std::thread deliverer_;    // the delivery thread, running or ended
};

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_UDEV_ACCOUNT_WATCHER_H_
