#include "mbn/linux/udev_account_watcher.h"

#include <glib-unix.h>

#include <cstring>

#include "mbn/linux/mbim_ports.h"

namespace halvorn::mbn_linux {

using mbn_platform::CallResult;
using mbn_platform::WatcherStatus;

CallResult UdevAccountWatcher::Create(GlibThread& glib,
                                      std::unique_ptr<mbn_platform::AccountWatcher>* watcher) {
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
  watcher->reset(new UdevAccountWatcher(glib, std::move(context), std::move(monitor)));
  return CallResult::Ok();
}

UdevAccountWatcher::UdevAccountWatcher(GlibThread& glib,
                                       ScopedUdev context,
                                       ScopedUdevMonitor monitor)
    : glib_(glib), context_(std::move(context)), monitor_(std::move(monitor)) {}

UdevAccountWatcher::~UdevAccountWatcher() {
  if (status_.load() != WatcherStatus::kCreated) {
    // After this, no callback of the monitor's source runs, and nothing is handed on.
    glib_.Await<bool>([this](const std::function<void(bool)>& done) {
      source_.reset();
      done(true);
    });
  }
  std::thread deliverer;
  {
    std::lock_guard<std::mutex> hold(delivery_lock_);
    closed_ = true;
    pending_.clear();
    deliverer = std::move(deliverer_);
  }
  if (deliverer.joinable()) {
    deliverer.join();  // after the handler it runs, if any
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
  if (!listening_) {
    // Listening starts before the enumeration, so that no port falls between the two; a port
    // seen by both is reported once.
    const int rc = udev_monitor_enable_receiving(monitor_.get());
    if (rc < 0) {
      return CallResult::StdFailure(std::strerror(-rc));
    }
    listening_ = true;
  }
  status_ = WatcherStatus::kStarted;
  glib_.Post([this] { Watch(); });
  return CallResult::Ok();
}

void UdevAccountWatcher::Watch() {
  known_.clear();
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
          Hand(Event::kAdded);
        }
      }
    }
  }
  status_ = WatcherStatus::kEnumerationCompleted;
  Hand(Event::kEnumerated);

  // The events that came since listening began are read once this returns.
  source_.reset(g_unix_fd_source_new(udev_monitor_get_fd(monitor_.get()),
                                     static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP)));
  g_source_set_callback(source_.get(), G_SOURCE_FUNC(&UdevAccountWatcher::OnMonitorReady), this,
                        nullptr);
  g_source_attach(source_.get(), glib_.context());
}

gboolean UdevAccountWatcher::OnMonitorReady(gint /*fd*/, GIOCondition condition, gpointer data) {
  auto* self = static_cast<UdevAccountWatcher*>(data);
  if ((condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) != 0) {
    self->status_ = WatcherStatus::kAborted;
    return G_SOURCE_REMOVE;  // source_ keeps the destroyed source until the next start
  }
  if ((condition & G_IO_IN) != 0) {
    self->ReceiveOne();
  }
  return G_SOURCE_CONTINUE;
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
      Hand(Event::kAdded);
    }
  } else if (std::strcmp(action, "remove") == 0) {
    // A removed port can no longer be examined; it counts when it was reported.
    if (known_.erase(syspath) > 0) {
      Hand(Event::kRemoved);
    }
  }
}

void UdevAccountWatcher::Hand(Event event) {
  std::thread ended;
  {
    std::lock_guard<std::mutex> hold(delivery_lock_);
    if (closed_) {
      return;
    }
    pending_.push_back(event);
    if (delivering_) {
      return;  // the running delivery thread takes it
    }
    delivering_ = true;
    ended = std::move(deliverer_);
    deliverer_ = std::thread([this] { Deliver(); });
  }
  if (ended.joinable()) {
    // It found nothing left and is returning: it runs no handler any more.
    ended.join();
  }
}

void UdevAccountWatcher::Deliver() {
  for (;;) {
    Event event;
    {
      std::lock_guard<std::mutex> hold(delivery_lock_);
      if (closed_ || pending_.empty()) {
        delivering_ = false;
        return;
      }
      event = pending_.front();
      pending_.pop_front();
    }
    Raise(event);
  }
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

}  // namespace halvorn::mbn_linux
