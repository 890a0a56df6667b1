#include "service/linux/crash_handler.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

#include <time.h>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "service/crash_dump.h"

namespace halvorn::service {

namespace {

// Sizes of the minidump records.
constexpr std::uint32_t kHeaderSize = 32;
constexpr std::uint32_t kDirectoryEntrySize = 12;
constexpr std::uint32_t kSystemInfoSize = 56;
constexpr std::uint32_t kExceptionStreamSize = 168;
constexpr std::uint32_t kThreadSize = 48;
constexpr std::uint32_t kModuleSize = 108;
constexpr std::uint32_t kMemoryDescriptorSize = 16;
constexpr std::uint32_t kContextSize = 1232;  // CONTEXT of AMD64

constexpr std::uint32_t kStreamThreadList = 3;
constexpr std::uint32_t kStreamModuleList = 4;
constexpr std::uint32_t kStreamMemoryList = 5;
constexpr std::uint32_t kStreamException = 6;
constexpr std::uint32_t kStreamSystemInfo = 7;
constexpr std::uint32_t kStreamMiscInfo = 15;
constexpr std::uint32_t kStreamCount = 6;
constexpr std::uint32_t kMiscInfoSize = 24;
constexpr std::uint32_t kMiscProcessId = 0x1;

constexpr std::uint32_t kContextAmd64 = 0x00100000;
constexpr std::uint32_t kContextControl = kContextAmd64 | 0x1;
constexpr std::uint32_t kContextFull = kContextAmd64 | 0x1 | 0x2 | 0x4 | 0x8;  // and segments, FPU
constexpr std::uint16_t kArchitectureAmd64 = 9;
constexpr std::uint32_t kPlatformLinux = 0x8201;            // breakpad's id of Linux
constexpr std::uint32_t kElfBuildIdSignature = 0x4270454c;  // "BpEL"

constexpr std::size_t kMaxModules = 256;
constexpr std::size_t kMaxModuleName = 256;  // UTF-16 units, without the terminator
constexpr std::size_t kMaxBuildId = 32;
constexpr std::size_t kMaxThreads = 128;
constexpr std::size_t kPathCapacity = 4096;
constexpr std::size_t kAltStackSize = 64 * 1024;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr char kFatalError[] = "Fatal Error\n";

struct Module {
  std::uint64_t base = 0;
  std::uint32_t size = 0;
  std::uint32_t name_length = 0;  // UTF-16 units
  char16_t name[kMaxModuleName + 1] = {};
  std::uint32_t build_id_length = 0;
  std::uint8_t build_id[kMaxBuildId] = {};
};

struct Thread {
  std::uint32_t id = 0;
  std::uint64_t sp = 0;
  std::uint64_t pc = 0;
  bool has_registers = false;
  std::uint64_t stack_start = 0;
  std::uint32_t stack_size = 0;
};

// Prepared at start-up, read by the handler.
char g_exe_path[kPathCapacity] = {};
std::size_t g_exe_length = 0;
Module g_modules[kMaxModules];
std::size_t g_module_count = 0;
std::uint32_t g_processors = 1;
alignas(16) std::uint8_t g_alt_stack[kAltStackSize];

// The handler's own working storage: one dump per process; a thread that crashes while another
// writes it waits for that dump, then ends the process too.
std::atomic<bool> g_entered{false};
std::atomic<bool> g_written{false};
Thread g_threads[kMaxThreads];
std::uint8_t g_context[kContextSize];
std::uint8_t g_record[512];
char g_dump_path[kPathCapacity];
char g_scratch[4096];
const std::uint8_t g_zeros[4096] = {};

// ---- start-up ----

void SetModuleName(Module* m, const char* utf8) {
  std::size_t n = 0;
  for (const char* c = utf8; *c != '\0' && n < kMaxModuleName; ++c) {
    m->name[n++] = static_cast<char16_t>(static_cast<unsigned char>(*c));  // paths: ASCII
  }
  m->name_length = static_cast<std::uint32_t>(n);
}

int AddModule(dl_phdr_info* info, std::size_t, void*) {
  if (g_module_count == kMaxModules) {
    return 1;
  }
  const bool executable = g_module_count == 0;
  if (!executable && (info->dlpi_name == nullptr || info->dlpi_name[0] != '/')) {
    return 0;  // the vDSO and other nameless objects: no file behind them
  }
  std::uint64_t low = UINT64_MAX;
  std::uint64_t high = 0;
  Module& m = g_modules[g_module_count];
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD) {
      low = ph.p_vaddr < low ? ph.p_vaddr : low;
      high = ph.p_vaddr + ph.p_memsz > high ? ph.p_vaddr + ph.p_memsz : high;
    } else if (ph.p_type == PT_NOTE) {
      const auto* at = reinterpret_cast<const std::uint8_t*>(info->dlpi_addr + ph.p_vaddr);
      const std::uint8_t* end = at + ph.p_memsz;
      while (at + sizeof(ElfW(Nhdr)) <= end) {
        ElfW(Nhdr) note;
        std::memcpy(&note, at, sizeof note);
        const std::uint8_t* name = at + sizeof note;
        const std::uint8_t* desc = name + ((note.n_namesz + 3) & ~3u);
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
            std::memcmp(name, "GNU", 4) == 0 && note.n_descsz <= kMaxBuildId) {
          std::memcpy(m.build_id, desc, note.n_descsz);
          m.build_id_length = note.n_descsz;
        }
        at = desc + ((note.n_descsz + 3) & ~3u);
      }
    }
  }
  if (low == UINT64_MAX) {
    return 0;
  }
  m.base = info->dlpi_addr + low;
  m.size = static_cast<std::uint32_t>(high - low);
  SetModuleName(&m, executable ? g_exe_path : info->dlpi_name);
  ++g_module_count;
  return 0;
}

// ---- the handler: system calls and plain memory only ----

// The system call itself: the kernel copies what it can of memory that may be gone, and no
// library wrapper (nor a sanitizer's) looks at the bytes of the stacks first.
long RawPwrite(int fd, const void* data, std::size_t length, std::size_t offset) {
  return ::syscall(SYS_pwrite64, fd, data, length, static_cast<off_t>(offset));
}

class DumpWriter {
 public:
  explicit DumpWriter(int fd) : fd_(fd) {}
  std::uint32_t offset() const { return offset_; }
  void Write(const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
      const long n = RawPwrite(fd_, p + done, length - done, offset_ + done);
      if (n <= 0) {
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    // What could not be read (memory that is gone) keeps its place as zeros.
    while (done < length) {
      const std::size_t chunk = length - done < sizeof g_zeros ? length - done : sizeof g_zeros;
      if (RawPwrite(fd_, g_zeros, chunk, offset_ + done) <= 0) {
        break;
      }
      done += chunk;
    }
    offset_ += static_cast<std::uint32_t>(length);
  }
  void WriteAt(std::uint32_t at, const void* data, std::size_t length) {
    [[maybe_unused]] const long n = RawPwrite(fd_, data, length, at);
  }

 private:
  int fd_;
  std::uint32_t offset_ = 0;
};

void Put16(std::uint8_t* at, std::uint16_t v) {
  std::memcpy(at, &v, sizeof v);
}
void Put32(std::uint8_t* at, std::uint32_t v) {
  std::memcpy(at, &v, sizeof v);
}
void Put64(std::uint8_t* at, std::uint64_t v) {
  std::memcpy(at, &v, sizeof v);
}

std::uint64_t ParseHex(const char** p) {
  std::uint64_t v = 0;
  const char* c = *p;
  if (c[0] == '0' && c[1] == 'x') {
    c += 2;
  }
  while (true) {
    const char ch = *c;
    int digit = -1;
    if (ch >= '0' && ch <= '9') {
      digit = ch - '0';
    } else if (ch >= 'a' && ch <= 'f') {
      digit = ch - 'a' + 10;
    } else if (ch >= 'A' && ch <= 'F') {
      digit = ch - 'A' + 10;
    }
    if (digit < 0) {
      break;
    }
    v = v * 16 + static_cast<std::uint64_t>(digit);
    ++c;
  }
  *p = c;
  return v;
}

// The end of the mapping of /proc/self/maps that holds `address`; 0 when none does.
std::uint64_t MappingEnd(std::uint64_t address) {
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return 0;
  }
  std::uint64_t found = 0;
  std::size_t kept = 0;  // bytes of an unfinished line at the start of g_scratch
  while (found == 0) {
    const ssize_t n = ::read(fd, g_scratch + kept, sizeof g_scratch - 1 - kept);
    if (n <= 0) {
      break;
    }
    const std::size_t filled = kept + static_cast<std::size_t>(n);
    g_scratch[filled] = '\0';
    std::size_t line = 0;
    for (std::size_t i = 0; i < filled; ++i) {
      if (g_scratch[i] != '\n') {
        continue;
      }
      const char* p = g_scratch + line;
      const std::uint64_t start = ParseHex(&p);
      const std::uint64_t end = *p == '-' ? (++p, ParseHex(&p)) : 0;
      if (address >= start && address < end) {
        found = end;
        break;
      }
      line = i + 1;
    }
    kept = filled - line;
    if (kept == sizeof g_scratch - 1) {
      kept = 0;  // a line longer than the buffer: skip it
    }
    std::memmove(g_scratch, g_scratch + line, kept);
  }
  ::close(fd);
  return found;
}

void SetStack(Thread* t) {
  const std::uint64_t start = t->sp >= 128 ? t->sp - 128 : 0;  // with the red zone below sp
  const std::uint64_t end = MappingEnd(t->sp);
  if (end <= start) {
    return;
  }
  const std::uint64_t length = end - start;
  t->stack_start = start;
  t->stack_size = static_cast<std::uint32_t>(length < kMaxStackBytes ? length : kMaxStackBytes);
}

// Stack and instruction pointer of a thread blocked in the kernel, from its "syscall" file:
// "<nr> <6 args> <sp> <pc>", "-1 <sp> <pc>", or "running".
bool BlockedThreadRegisters(std::uint32_t tid, std::uint64_t* sp, std::uint64_t* pc) {
  char path[64] = "/proc/self/task/";
  std::size_t at = std::strlen(path);
  char digits[16];
  std::size_t nd = 0;
  for (std::uint32_t v = tid; v != 0 || nd == 0; v /= 10) {
    digits[nd++] = static_cast<char>('0' + v % 10);
  }
  while (nd > 0) {
    path[at++] = digits[--nd];
  }
  std::memcpy(path + at, "/syscall", 9);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  char text[256];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0 || text[0] == 'r') {
    return false;
  }
  text[n] = '\0';
  // The last two fields.
  const char* fields[16];
  int count = 0;
  for (char* c = text; *c != '\0' && count < 16;) {
    while (*c == ' ' || *c == '\n') {
      ++c;
    }
    if (*c == '\0') {
      break;
    }
    fields[count++] = c;
    while (*c != '\0' && *c != ' ' && *c != '\n') {
      ++c;
    }
  }
  if (count < 3) {
    return false;
  }
  const char* p = fields[count - 2];
  *sp = ParseHex(&p);
  p = fields[count - 1];
  *pc = ParseHex(&p);
  return *sp != 0;
}

std::size_t ListThreads(std::uint32_t crashing) {
  std::size_t count = 0;
  g_threads[count++] = Thread{crashing, 0, 0, true, 0, 0};
  const int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return count;
  }
  while (count < kMaxThreads) {
    const long n = ::syscall(SYS_getdents64, fd, g_scratch, sizeof g_scratch);
    if (n <= 0) {
      break;
    }
    for (long off = 0; off < n && count < kMaxThreads;) {
      const auto* entry = reinterpret_cast<const dirent64*>(g_scratch + off);
      off += entry->d_reclen;
      const char* p = entry->d_name;
      std::uint32_t tid = 0;
      while (*p >= '0' && *p <= '9') {
        tid = tid * 10 + static_cast<std::uint32_t>(*p++ - '0');
      }
      if (*p != '\0' || tid == 0 || tid == crashing) {
        continue;
      }
      Thread t;
      t.id = tid;
      t.has_registers = BlockedThreadRegisters(tid, &t.sp, &t.pc);
      g_threads[count++] = t;
    }
  }
  ::close(fd);
  return count;
}

void FillContext(const ucontext_t* uc) {
  std::memset(g_context, 0, sizeof g_context);
  Put32(g_context + 48, kContextFull);
  const greg_t* g = uc->uc_mcontext.gregs;
  const auto csgsfs = static_cast<std::uint64_t>(g[REG_CSGSFS]);
  Put16(g_context + 56, static_cast<std::uint16_t>(csgsfs));        // cs
  Put16(g_context + 64, static_cast<std::uint16_t>(csgsfs >> 16));  // gs
  Put16(g_context + 62, static_cast<std::uint16_t>(csgsfs >> 32));  // fs
  Put32(g_context + 68, static_cast<std::uint32_t>(g[REG_EFL]));
  const int order[] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP,
                       REG_RSI, REG_RDI, REG_R8,  REG_R9,  REG_R10, REG_R11,
                       REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};
  for (std::size_t i = 0; i < sizeof order / sizeof order[0]; ++i) {
    Put64(g_context + 120 + 8 * i, static_cast<std::uint64_t>(g[order[i]]));
  }
  if (uc->uc_mcontext.fpregs != nullptr) {
    std::memcpy(g_context + 256, uc->uc_mcontext.fpregs, 512);  // the FXSAVE area
    Put32(g_context + 52, uc->uc_mcontext.fpregs->mxcsr);
  }
}

void WriteDump(int fd, int signo, const siginfo_t* info, const ucontext_t* uc) {
  DumpWriter out(fd);
  std::uint8_t header[kHeaderSize] = {};
  out.Write(header, sizeof header);
  const std::uint32_t directory_rva = out.offset();
  std::uint8_t directory[kStreamCount * kDirectoryEntrySize] = {};
  out.Write(directory, sizeof directory);
  std::uint32_t entry = 0;
  auto add_stream = [&](std::uint32_t type, std::uint32_t rva, std::uint32_t size) {
    std::uint8_t* e = directory + entry++ * kDirectoryEntrySize;
    Put32(e, type);
    Put32(e + 4, size);
    Put32(e + 8, rva);
  };

  // System information, with an empty service-pack string.
  const std::uint32_t empty_string_rva = out.offset();
  const std::uint8_t empty_string[6] = {};
  out.Write(empty_string, sizeof empty_string);
  std::uint8_t system[kSystemInfoSize] = {};
  Put16(system, kArchitectureAmd64);
  system[6] = static_cast<std::uint8_t>(g_processors > 255 ? 255 : g_processors);
  system[7] = 1;  // a workstation
  Put32(system + 20, kPlatformLinux);
  Put32(system + 24, empty_string_rva);
  add_stream(kStreamSystemInfo, out.offset(), kSystemInfoSize);
  out.Write(system, sizeof system);

  // The process id.
  std::uint8_t misc[kMiscInfoSize] = {};
  Put32(misc, kMiscInfoSize);
  Put32(misc + 4, kMiscProcessId);
  Put32(misc + 8, static_cast<std::uint32_t>(::getpid()));
  add_stream(kStreamMiscInfo, out.offset(), kMiscInfoSize);
  out.Write(misc, sizeof misc);

  // The crashing thread's context, then the other threads' (stack and instruction pointer).
  const auto crashing = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  const std::size_t threads = ListThreads(crashing);
  g_threads[0].sp = static_cast<std::uint64_t>(uc->uc_mcontext.gregs[REG_RSP]);
  g_threads[0].pc = static_cast<std::uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
  FillContext(uc);
  const std::uint32_t crash_context_rva = out.offset();
  out.Write(g_context, kContextSize);
  std::uint32_t context_rva[kMaxThreads] = {};
  context_rva[0] = crash_context_rva;
  for (std::size_t i = 1; i < threads; ++i) {
    if (!g_threads[i].has_registers) {
      continue;
    }
    std::memset(g_context, 0, sizeof g_context);
    Put32(g_context + 48, kContextControl);
    Put64(g_context + 152, g_threads[i].sp);
    Put64(g_context + 248, g_threads[i].pc);
    context_rva[i] = out.offset();
    out.Write(g_context, kContextSize);
  }

  // Stacks.
  std::uint32_t stack_rva[kMaxThreads] = {};
  for (std::size_t i = 0; i < threads; ++i) {
    if (!g_threads[i].has_registers) {
      continue;
    }
    SetStack(&g_threads[i]);
    stack_rva[i] = out.offset();
    out.Write(reinterpret_cast<const void*>(g_threads[i].stack_start), g_threads[i].stack_size);
  }

  // Exception.
  std::memset(g_record, 0, sizeof g_record);
  Put32(g_record, crashing);
  Put32(g_record + 8, static_cast<std::uint32_t>(signo));
  Put32(g_record + 12, static_cast<std::uint32_t>(info->si_code));
  Put64(g_record + 24, reinterpret_cast<std::uint64_t>(info->si_addr));
  Put32(g_record + 160, kContextSize);
  Put32(g_record + 164, crash_context_rva);
  add_stream(kStreamException, out.offset(), kExceptionStreamSize);
  out.Write(g_record, kExceptionStreamSize);

  // Thread list.
  const auto thread_count = static_cast<std::uint32_t>(threads);
  add_stream(kStreamThreadList, out.offset(), 4 + thread_count * kThreadSize);
  out.Write(&thread_count, 4);
  for (std::size_t i = 0; i < threads; ++i) {
    std::uint8_t t[kThreadSize] = {};
    Put32(t, g_threads[i].id);
    Put64(t + 24, g_threads[i].stack_start);
    Put32(t + 32, g_threads[i].stack_size);
    Put32(t + 36, stack_rva[i]);
    if (context_rva[i] != 0) {
      Put32(t + 40, kContextSize);
      Put32(t + 44, context_rva[i]);
    }
    out.Write(t, sizeof t);
  }

  // Memory list: the same stacks.
  std::uint32_t ranges = 0;
  for (std::size_t i = 0; i < threads; ++i) {
    ranges += g_threads[i].stack_size != 0 ? 1 : 0;
  }
  add_stream(kStreamMemoryList, out.offset(), 4 + ranges * kMemoryDescriptorSize);
  out.Write(&ranges, 4);
  for (std::size_t i = 0; i < threads; ++i) {
    if (g_threads[i].stack_size == 0) {
      continue;
    }
    std::uint8_t d[kMemoryDescriptorSize] = {};
    Put64(d, g_threads[i].stack_start);
    Put32(d + 8, g_threads[i].stack_size);
    Put32(d + 12, stack_rva[i]);
    out.Write(d, sizeof d);
  }

  // Module list: names and build ids first, then the records.
  std::uint32_t name_rva[kMaxModules] = {};
  std::uint32_t cv_rva[kMaxModules] = {};
  for (std::size_t i = 0; i < g_module_count; ++i) {
    const Module& m = g_modules[i];
    name_rva[i] = out.offset();
    const std::uint32_t bytes = m.name_length * 2;
    out.Write(&bytes, 4);
    out.Write(m.name, bytes + 2);
    if (m.build_id_length != 0) {
      cv_rva[i] = out.offset();
      out.Write(&kElfBuildIdSignature, 4);
      out.Write(m.build_id, m.build_id_length);
    }
  }
  const auto module_count = static_cast<std::uint32_t>(g_module_count);
  add_stream(kStreamModuleList, out.offset(), 4 + module_count * kModuleSize);
  out.Write(&module_count, 4);
  for (std::size_t i = 0; i < g_module_count; ++i) {
    const Module& m = g_modules[i];
    std::uint8_t r[kModuleSize] = {};
    Put64(r, m.base);
    Put32(r + 8, m.size);
    Put32(r + 20, name_rva[i]);
    if (cv_rva[i] != 0) {
      Put32(r + 76, 4 + m.build_id_length);
      Put32(r + 80, cv_rva[i]);
    }
    out.Write(r, sizeof r);
  }

  Put32(header, 0x504d444d);  // "MDMP"
  Put32(header + 4, 0xa793);  // MINIDUMP_VERSION
  Put32(header + 8, entry);
  Put32(header + 12, directory_rva);
  Put32(header + 20, static_cast<std::uint32_t>(std::time(nullptr)));
  out.WriteAt(directory_rva, directory, sizeof directory);
  out.WriteAt(0, header, sizeof header);
}

void OnCrash(int signo, siginfo_t* info, void* context) {
  if (g_entered.exchange(true)) {
    // Another thread crashed as well and writes its dump: let it finish (for a while).
    for (int i = 0; i < 100 && !g_written.load(); ++i) {
      timespec pause{0, 100 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  } else {
    DumpGuid guid;
    std::uint8_t random[16] = {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof random)) {
      std::memcpy(&guid.data1, random, 4);
      std::memcpy(&guid.data2, random + 4, 2);
      std::memcpy(&guid.data3, random + 6, 2);
      std::memcpy(guid.data4, random + 8, 8);
      guid.data3 = static_cast<std::uint16_t>((guid.data3 & 0x0FFF) | 0x4000);  // version 4
      guid.data4[0] = static_cast<std::uint8_t>((guid.data4[0] & 0x3F) | 0x80);
      char name[kDumpFileNameLength + 1];
      FormatDumpFileName(guid, name);
      if (ComposeDumpPath(g_exe_path, g_exe_length, false, '/', name, g_dump_path,
                          sizeof g_dump_path) == DumpPathResult::kOk) {
        const int fd = ::open(g_dump_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
          WriteDump(fd, signo, info, static_cast<const ucontext_t*>(context));
          ::close(fd);
        }
      }
    }
    g_written.store(true);
  }
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kFatalError, sizeof kFatalError - 1);
  // The default action of SIGABRT, whichever signal came: the process ends as aborted.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(SIGABRT, &dfl, nullptr);
  sigset_t abrt;
  sigemptyset(&abrt);
  sigaddset(&abrt, SIGABRT);
  ::pthread_sigmask(SIG_UNBLOCK, &abrt, nullptr);
  ::raise(SIGABRT);
  ::_exit(134);  // not reached
}

}  // namespace

bool InstallCrashHandler() {
  bool complete = true;
  const ssize_t n = ::readlink("/proc/self/exe", g_exe_path, sizeof g_exe_path - 1);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof g_exe_path - 1) {
    g_exe_length = static_cast<std::size_t>(n);
    g_exe_path[n] = '\0';
  } else {
    g_exe_path[0] = '\0';
    complete = false;
  }
  g_module_count = 0;
  dl_iterate_phdr(&AddModule, nullptr);
  const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  g_processors = processors > 0 ? static_cast<std::uint32_t>(processors) : 1;

  stack_t stack{};
  stack.ss_sp = g_alt_stack;
  stack.ss_size = sizeof g_alt_stack;
  if (::sigaltstack(&stack, nullptr) != 0) {
    complete = false;
  }
  struct sigaction action {};
  action.sa_sigaction = &OnCrash;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (const int signo : kSignals) {
    sigaddset(&action.sa_mask, signo);
  }
  for (const int signo : kSignals) {
    ::sigaction(signo, &action, nullptr);
  }
  return complete;
}

}  // namespace halvorn::service
