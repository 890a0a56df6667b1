// The one thread that runs libmbim's GLib main context. libmbim is not thread-safe: every
// MbimDevice is created, used and released on this thread only, with its context as the
// thread-default context. Other threads hand it work through Post and Await.

#ifndef HALVORN_MBN_LINUX_GLIB_THREAD_H_
#define HALVORN_MBN_LINUX_GLIB_THREAD_H_

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "mbn/linux/glib_types.h"

namespace halvorn::mbn_linux {

class GlibThread {
 public:
  GlibThread();
  // Stops the thread after the work already posted; work posted later is dropped: it is not
  // run, and its closure is destroyed. Everything made on this thread (runtimes, watchers)
  // must be gone first: their own release waits for the thread.
  ~GlibThread();
  GlibThread(const GlibThread&) = delete;
  GlibThread& operator=(const GlibThread&) = delete;

  GMainContext* context() const { return context_.get(); }
  bool IsCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

  // Runs `work` on the GLib thread, in posting order, and returns at once, also when called
  // on the GLib thread itself (the work then runs after what was posted before it).
  void Post(std::function<void()> work);

  // Runs `start` on the GLib thread and waits until it, or a GLib callback it arranged,
  // calls the `done` it was given. `start` must arrange for `done` to be called exactly once
  // and soon (the runtime's waits carry a deadline of their own: libmbim's timeouts are not
  // always kept). Not to be called on the GLib thread itself.
  template <class T>
  T Await(std::function<void(std::function<void(T)> done)> start) {
    struct Slot {
      std::mutex lock;
      std::condition_variable ready_cv;
      std::optional<T> value;
    };
    auto slot = std::make_shared<Slot>();
    Post([slot, start = std::move(start)] {
      start([slot](T value) {
        std::lock_guard<std::mutex> hold(slot->lock);
        slot->value.emplace(std::move(value));
        slot->ready_cv.notify_all();
      });
    });
    std::unique_lock<std::mutex> hold(slot->lock);
    slot->ready_cv.wait(hold, [&] { return slot->value.has_value(); });
    return std::move(*slot->value);
  }

 private:
  struct Posted;
  static gboolean RunPosted(gpointer data);
  static void DestroyPosted(gpointer data);
  void Run();

  MainContextPtr context_;
  bool stopped_ = false;  // GLib thread only: set by the last work the destructor posts
  std::thread thread_;
};

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_GLIB_THREAD_H_
