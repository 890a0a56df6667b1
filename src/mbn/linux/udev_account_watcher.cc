#include "mbn/linux/udev_account_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstring>

#include "mbn/linux/mbim_ports.h"

namespace halvorn::mbn_linux {

using mbn_platform::CallResult;
using mbn_platform::WatcherStatus;

CallResult UdevAccountWatcher::Create(std::unique_ptr<mbn_platform::AccountWatcher>* watcher) {
  ScopedUdev context(udev_new());
  if (!context) {
    return CallResult::StdFailure("udev is not available");
  }
  // Events after udev has handled them: the device node exists and has its permissions.
  ScopedUdevMonitor monitor(udev_monitor_new_from_netlink(context.get(), "udev"));
  if (!monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), kCdcWdmSubsystem, nullptr) <
          0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), kWwanSubsystem, nullptr) < 0) {
    return CallResult::StdFailure("no udev monitor");
  }
  ScopedFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.is_valid()) {
    return CallResult::StdFailure(std::strerror(errno));
  }
  watcher->reset(new UdevAccountWatcher(std::move(context), std::move(monitor), std::move(wake)));
  return CallResult::Ok();
}

UdevAccountWatcher::UdevAccountWatcher(ScopedUdev context, ScopedUdevMonitor monitor, ScopedFd wake)
    : context_(std::move(context)), monitor_(std::move(monitor)), wake_(std::move(wake)) {}

UdevAccountWatcher::~UdevAccountWatcher() {
  stop_ = true;
  const std::uint64_t one = 1;
  if (::write(wake_.get(), &one, sizeof(one)) < 0) {
    // The counter cannot overflow with one write; the thread also sees stop_ at its next
    // wake-up.
  }
  if (thread_.joinable()) {
    thread_.join();
  }
}

CallResult UdevAccountWatcher::Add(Event event,
                                   std::function<void()> handler,
                                   std::int64_t* token) {
  std::lock_guard<std::mutex> hold(handlers_lock_);
  handlers_.push_back({event, std::move(handler)});
  *token = next_token_++;
  return CallResult::Ok();
}

CallResult UdevAccountWatcher::AddAccountAdded(std::function<void()> handler, std::int64_t* token) {
  return Add(Event::kAdded, std::move(handler), token);
}

CallResult UdevAccountWatcher::AddAccountRemoved(std::function<void()> handler,
                                                 std::int64_t* token) {
  return Add(Event::kRemoved, std::move(handler), token);
}

CallResult UdevAccountWatcher::AddEnumerationCompleted(std::function<void()> handler,
                                                       std::int64_t* token) {
  return Add(Event::kEnumerated, std::move(handler), token);
}

CallResult UdevAccountWatcher::GetStatus(WatcherStatus* status) {
  *status = status_.load();
  return CallResult::Ok();
}

CallResult UdevAccountWatcher::Start() {
  const WatcherStatus status = status_.load();
  if (status == WatcherStatus::kStarted || status == WatcherStatus::kEnumerationCompleted) {
    return CallResult::Ok();
  }
  if (thread_.joinable()) {
    thread_.join();  // an aborted run has ended
  }
  if (!listening_) {
    // Listening starts before the enumeration, so that no port falls between the two; a port
    // seen by both is reported once.
    const int rc = udev_monitor_enable_receiving(monitor_.get());
    if (rc < 0) {
      return CallResult::StdFailure(std::strerror(-rc));
    }
    listening_ = true;
  }
  known_.clear();
  status_ = WatcherStatus::kStarted;
  thread_ = std::thread([this] { Run(); });
  return CallResult::Ok();
}

void UdevAccountWatcher::Raise(Event event) {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> hold(handlers_lock_);
    for (const Registration& r : handlers_) {
      if (r.event == event) {
        handlers.push_back(r.handler);
      }
    }
  }
  for (const std::function<void()>& handler : handlers) {
    handler();
  }
}

void UdevAccountWatcher::Enumerate() {
  ScopedUdevEnumerate enumerate(udev_enumerate_new(context_.get()));
  if (enumerate) {
    udev_enumerate_add_match_subsystem(enumerate.get(), kCdcWdmSubsystem);
    udev_enumerate_add_match_subsystem(enumerate.get(), kWwanSubsystem);
    udev_enumerate_add_match_is_initialized(enumerate.get());
    if (udev_enumerate_scan_devices(enumerate.get()) >= 0) {
      udev_list_entry* entry = nullptr;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        ScopedUdevDevice device(udev_device_new_from_syspath(context_.get(), syspath));
        if (device && IsMbimControlPort(device.get()) && known_.insert(syspath).second) {
          Raise(Event::kAdded);
        }
      }
    }
  }
  status_ = WatcherStatus::kEnumerationCompleted;
  Raise(Event::kEnumerated);
}

void UdevAccountWatcher::ReceiveOne() {
  ScopedUdevDevice device(udev_monitor_receive_device(monitor_.get()));
  if (!device) {
    return;
  }
  const char* action = udev_device_get_action(device.get());
  const char* syspath = udev_device_get_syspath(device.get());
  if (action == nullptr || syspath == nullptr) {
    return;
  }
  if (std::strcmp(action, "add") == 0) {
    if (IsMbimControlPort(device.get()) && known_.insert(syspath).second) {
      Raise(Event::kAdded);
    }
  } else if (std::strcmp(action, "remove") == 0) {
    // A removed port can no longer be examined; it counts when it was reported.
    if (known_.erase(syspath) > 0) {
      Raise(Event::kRemoved);
    }
  }
}

void UdevAccountWatcher::Run() {
  Enumerate();
  pollfd fds[2] = {{udev_monitor_get_fd(monitor_.get()), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
  while (!stop_) {
    const int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      status_ = WatcherStatus::kAborted;
      return;
    }
    if (stop_ || (fds[1].revents & POLLIN) != 0) {
      break;
    }
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      status_ = WatcherStatus::kAborted;
      return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      ReceiveOne();
    }
  }
  status_ = WatcherStatus::kStopped;
}

}  // namespace halvorn::mbn_linux
