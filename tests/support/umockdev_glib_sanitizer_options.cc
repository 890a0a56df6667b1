// Sanitizer settings of the tests that run libmbim-glib or umockdev test beds. Added to each
// such test program (a hook in a static library would not be linked in).

#if defined(__SANITIZE_THREAD__)
// GLib and GIO are not built for ThreadSanitizer, and they hand work between threads through
// raw futexes and eventfds that it cannot see. Reports whose stacks run through these
// libraries are dropped; races in our own code are still found. No leak is suppressed: the
// runtime cancels every command it gives up, so none is left to libmbim's timeout.
// The test bed libraries race with themselves: libumockdev-preload translates paths through a
// static buffer of its own, and libumockdev's worker thread reads strings its owner frees.
// Those races are the test bed's, not ours.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so.0\n"
         "race:libgio-2.0.so.0\n"
         "race:libumockdev-preload.so.0\n"
         "race:libumockdev.so.0\n";
}
#endif
