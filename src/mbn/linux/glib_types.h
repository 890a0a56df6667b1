// Small owners of GLib, GIO and libmbim objects, so that nothing is released by hand on each
// return path.

#ifndef HALVORN_MBN_LINUX_GLIB_TYPES_H_
#define HALVORN_MBN_LINUX_GLIB_TYPES_H_

#include <libmbim-glib.h>

#include <memory>

namespace halvorn::mbn_linux {

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct MbimMessageUnref {
  void operator()(MbimMessage* message) const { mbim_message_unref(message); }
};
struct GMainContextUnref {
  void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
// An attached source: destroyed (no callback of it runs any more) and released. Reset on the
// thread of its context, so that no callback runs while it goes.
struct GSourceDestroy {
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};
struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};

// A reference to a GObject (MbimDevice, GCancellable, GFile, GAsyncResult).
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using MessagePtr = std::unique_ptr<MbimMessage, MbimMessageUnref>;
using MainContextPtr = std::unique_ptr<GMainContext, GMainContextUnref>;
using AttachedSourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

}  // namespace halvorn::mbn_linux

#endif  // HALVORN_MBN_LINUX_GLIB_TYPES_H_
