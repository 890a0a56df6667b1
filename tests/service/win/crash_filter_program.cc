// A small program with the service's crash filter: it installs the filter as halvorn.exe does
// and then dereferences a null pointer on a worker thread of its own.

#include <windows.h>

#include <thread>

#include "service/win/crash_dump_win.h"

namespace {

void Crash() {
  *static_cast<volatile int*>(nullptr) = 1;
}

}  // namespace

int wmain(int /*argc*/, wchar_t** /*argv*/) {
  halvorn::service::win::InstallCrashDumpFilter();
  std::thread worker(&Crash);
  worker.join();
  return 3;  // not reached
}
