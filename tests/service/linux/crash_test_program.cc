// Installs the daemon's crash handler, then faults: a null write in CrashHere (default), or
// abort() with "abort", each called through CallerOfCrash so that a backtrace shows both; with
// "threads", two threads make the null write at the same moment.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "service/linux/crash_handler.h"

namespace crash_test {

// An address in the unmapped first page, not null: a null store would be caught by the undefined
// behaviour sanitizer before it faults.
volatile std::uintptr_t g_nowhere = 16;

__attribute__((noinline)) void CrashHere(bool abort_instead) {
  if (abort_instead) {
    std::abort();
  }
  *reinterpret_cast<volatile int*>(g_nowhere) = 42;
}

__attribute__((noinline)) void CallerOfCrash(bool abort_instead) {
  CrashHere(abort_instead);
  g_nowhere = 16;  // keeps the call from being a tail call
}

}  // namespace crash_test

int main(int argc, char** argv) {
  halvorn::service::InstallCrashHandler();
  if (argc > 1 && std::strcmp(argv[1], "threads") == 0) {
    std::atomic<int> ready{0};
    auto body = [&ready] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      crash_test::CallerOfCrash(false);
    };
    std::thread a(body);
    std::thread b(body);
    a.join();
    b.join();
    return 0;
  }
  crash_test::CallerOfCrash(argc > 1 && std::strcmp(argv[1], "abort") == 0);
  return 0;
}
