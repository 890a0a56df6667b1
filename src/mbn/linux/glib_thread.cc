#include "mbn/linux/glib_thread.h"

#include <atomic>

namespace halvorn::mbn_linux {

// One posted closure, owned by the idle source that carries it to the GLib thread. GLib keeps
// the order: idle sources of one priority are dispatched in the order they were attached.
// GLib hands the source over through futexes that ThreadSanitizer cannot see; `published` is
// the same hand-over made visible (release by the poster, acquire wherever the closure is
// run or destroyed).
struct GlibThread::Posted {
  GlibThread* owner;
  std::function<void()> work;
  std::atomic<bool> published{false};

  // The flag is set before the source is attached, so it is always found set.
  void Take() const { static_cast<void>(published.load(std::memory_order_acquire)); }
};

GlibThread::GlibThread() : context_(g_main_context_new()) {
  thread_ = std::thread([this] { Run(); });
}

GlibThread::~GlibThread() {
  // Runs after everything posted before it; what comes after it finds the thread stopped.
  Post([this] { stopped_ = true; });
  thread_.join();
  // context_ goes with the members: a source still attached (work posted while the thread
  // was ending) is destroyed with it, and its closure with it.
}

void GlibThread::Post(std::function<void()> work) {
  auto* posted = new Posted{this, std::move(work)};
  posted->published.store(true, std::memory_order_release);
  // Not g_main_context_invoke: on the GLib thread it would run the work at once, before
  // what is already posted.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, &GlibThread::RunPosted, posted, &GlibThread::DestroyPosted);
  g_source_attach(source, context_.get());
  g_source_unref(source);  // the context holds it until it is dispatched or destroyed
}

gboolean GlibThread::RunPosted(gpointer data) {
  const auto* posted = static_cast<const Posted*>(data);
  posted->Take();
  if (!posted->owner->stopped_) {
    posted->work();
  }
  return G_SOURCE_REMOVE;  // DestroyPosted releases the closure
}

void GlibThread::DestroyPosted(gpointer data) {
  auto* posted = static_cast<Posted*>(data);
  posted->Take();
  delete posted;
}

void GlibThread::Run() {
  g_main_context_push_thread_default(context_.get());
  while (!stopped_) {
    g_main_context_iteration(context_.get(), TRUE);
  }
  // Let libmbim finish what it has already completed before the context goes; work posted
  // meanwhile is dropped here.
  while (g_main_context_iteration(context_.get(), FALSE)) {
  }
  g_main_context_pop_thread_default(context_.get());
}

}  // namespace halvorn::mbn_linux
