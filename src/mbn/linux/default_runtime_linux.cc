#include "mbn/linux/glib_thread.h"
#include "mbn/linux/mbim_runtime.h"
#include "mbn/mbn_platform.h"

namespace halvorn::mbn_platform {

Runtime& DefaultRuntime() {
  // Never destroyed: the process-wide helper and its watchers use the runtime up to the very
  // end of the process, and the GLib thread runs as long as the process does.
  static mbn_linux::GlibThread* const glib = new mbn_linux::GlibThread();
  static mbn_linux::MbimRuntime* const runtime = new mbn_linux::MbimRuntime(*glib);
  return *runtime;
}

}  // namespace halvorn::mbn_platform
