// ThreadSanitizer settings of halvornd in a sanitizer build (nothing in the others); such a
// build is run by the tests only, under the umockdev test bed.
//
// The process ends in EndServiceProcess with threads it never joins (the task worker, the GLib
// and power notification threads, the account watcher's delivery thread while it runs, the
// logging library's): that is the design, not a leak.
// GLib, GIO, libsystemd and libudev are not built for the sanitizer and reuse memory in ways it
// cannot follow (a buffer that sd_notify sent from is reported against the directory handle
// that libudev later closes at the same address); reports whose stacks run through them, or
// through the test bed's preload library (which translates paths in a static buffer of its
// own), are dropped. Races in our own code are still found.

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
  return "report_thread_leaks=0";
}

extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so.0\n"
         "race:libgio-2.0.so.0\n"
         "race:libsystemd.so.0\n"
         "race:libudev.so.1\n"
         "race:libumockdev-preload.so.0\n";
}
#endif
