#include "mbn/linux/glib_thread.h"

namespace halvorn::mbn_linux {

GlibThread::GlibThread() : context_(g_main_context_new()) {
  thread_ = std::thread([this] { Run(); });
}

GlibThread::~GlibThread() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  g_main_context_wakeup(context_.get());
  thread_.join();
}

void GlibThread::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stop_) {
      return;
    }
    queue_.push_back(std::move(work));
  }
  // The hand-over itself goes through our own lock (visible to ThreadSanitizer); GLib only
  // wakes the thread.
  g_main_context_wakeup(context_.get());
}

void GlibThread::Run() {
  g_main_context_push_thread_default(context_.get());
  for (;;) {
    std::deque<std::function<void()>> work;
    bool stop = false;
    {
      std::lock_guard<std::mutex> hold(lock_);
      work.swap(queue_);
      stop = stop_;
    }
    for (std::function<void()>& item : work) {
      item();
    }
    if (stop) {
      break;
    }
    if (work.empty()) {
      g_main_context_iteration(context_.get(), TRUE);
    } else {
      // Dispatch what the work made ready without blocking, then look at the queue again.
      while (g_main_context_iteration(context_.get(), FALSE)) {
      }
    }
  }
  // Let libmbim finish what it has already completed before the context goes.
  while (g_main_context_iteration(context_.get(), FALSE)) {
  }
  g_main_context_pop_thread_default(context_.get());
}

}  // namespace halvorn::mbn_linux
