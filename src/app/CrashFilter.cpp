#include "app/CrashFilter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/Allocation.h"
#include "platform/LauncherProtocol.h"
#include "platform/Log.h"
#include "platform/NamedEvent.h"
#include "platform/ProgramFolder.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/RunReport.h"

namespace corvale::app {
namespace {

constexpr unsigned kStringMemoryProblem = 307;
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kAltStackBytes = 64 * 1024;
constexpr int kMaxFrames = 64;
// The out-of-memory box is shown by the user-interface thread; a worker that ran out of memory
// gives that thread this long to start showing it (it may be waiting for the worker).
constexpr auto kBoxStartWait = std::chrono::seconds(10);

// Everything the handler needs, made before any crash. Never freed: the handler may run at any time
// until the process ends.
struct CrashState {
  NamedEvent* crashEvent = nullptr;
  char dumpPath[4096] = {};
  char header[256] = {};
  size_t headerLength = 0;
  bool faultAgainForTesting = false;
};
CrashState g_state;
std::atomic<int> g_reporting{0};

// A write to an address no process maps.
void BadMemoryAccess() {
  volatile int* nowhere = reinterpret_cast<volatile int*>(static_cast<uintptr_t>(16));
  *nowhere = 1;
}

void WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

void WriteText(int fd, const char* text) { WriteAll(fd, text, std::strlen(text)); }

// Digits of `value` in `base` into `out` (at least 24 bytes), NUL-ended; no allocation.
void FormatNumber(uint64_t value, unsigned base, char* out) {
  char digits[24];
  int n = 0;
  do {
    unsigned d = static_cast<unsigned>(value % base);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    value /= base;
  } while (value && n < 23);
  for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  out[n] = '\0';
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV (bad memory access)";
    case SIGBUS:
      return "SIGBUS (bus error)";
    case SIGILL:
      return "SIGILL (illegal instruction)";
    case SIGFPE:
      return "SIGFPE (arithmetic fault)";
    case SIGABRT:
      return "SIGABRT (abort)";
    default:
      return "signal";
  }
}

void WriteDump(int signal, const siginfo_t* info) {
  if (!g_state.dumpPath[0]) return;
  int fd = ::open(g_state.dumpPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  char number[24];
  WriteAll(fd, g_state.header, g_state.headerLength);
  WriteText(fd, "Signal: ");
  FormatNumber(static_cast<uint64_t>(signal), 10, number);
  WriteText(fd, number);
  WriteText(fd, " ");
  WriteText(fd, SignalName(signal));
  WriteText(fd, "\nAddress: 0x");
  FormatNumber(info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0, 16, number);
  WriteText(fd, number);
  WriteText(fd, "\nProcess: ");
  FormatNumber(static_cast<uint64_t>(::getpid()), 10, number);
  WriteText(fd, number);
  WriteText(fd, "\nStack:\n");
  void* frames[kMaxFrames];
  int count = ::backtrace(frames, kMaxFrames);
  ::backtrace_symbols_fd(frames, count, fd);
  ::close(fd);
}

void DieOf(int signal) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

void OnCrashSignal(int signal, siginfo_t* info, void*) {
  if (g_reporting.exchange(1)) DieOf(signal);  // crashed again while reporting: no second report
  if (g_state.crashEvent) g_state.crashEvent->Set();
  if (g_state.faultAgainForTesting) {
    BadMemoryAccess();
  }
  WriteDump(signal, info);
  DieOf(signal);
}

void InstallSignalHandlers() {
  static std::vector<char> altStack(kAltStackBytes);
  stack_t stack{};
  stack.ss_sp = altStack.data();
  stack.ss_size = altStack.size();
  ::sigaltstack(&stack, nullptr);
  for (int signal : kFaultSignals) {
    struct sigaction action {};
    action.sa_sigaction = OnCrashSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int other : kFaultSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(signal, &action, nullptr);
  }
  // The runtime loads what backtrace needs on its first use; that must not happen in the handler.
  void* frames[4];
  ::backtrace(frames, 4);
}

std::string FormatWithTitle(const std::string& text) {
  std::string result = text;
  size_t at = result.find("%s");
  if (at != std::string::npos) result.replace(at, 2, GetProductTitle());
  return result;
}

// Shows the box on the user-interface thread and returns when it was closed, or when that thread
// did not start showing it in time.
void ShowOnUserInterfaceThread(const std::string& text) {
  auto show = [text] {
    corvale::ui::ShowMessageBox(text, GetProductTitle(), corvale::ui::MessageIcon::Warning);
  };
  QCoreApplication* application = QCoreApplication::instance();
  if (!application || QThread::currentThread() == application->thread()) {
    show();
    return;
  }
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool done = false;
  };
  auto shared = std::make_shared<Shared>();
  QMetaObject::invokeMethod(
      application,
      [shared, show] {
        {
          std::lock_guard lock(shared->mutex);
          shared->started = true;
        }
        shared->changed.notify_all();
        show();
        {
          std::lock_guard lock(shared->mutex);
          shared->done = true;
        }
        shared->changed.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(shared->mutex);
  if (!shared->changed.wait_for(lock, kBoxStartWait, [&] { return shared->started; })) return;
  shared->changed.wait(lock, [&] { return shared->done; });
}

}  // namespace

std::string NextDumpPath(const std::string& folder) {
  if (folder.empty()) return {};
  for (int n = 0; n < 10000; ++n) {
    std::string path = folder + "Qbxdump" + std::to_string(n) + ".dmp";
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return path;
  }
  return {};
}

std::string CrashDumpPath() { return g_state.dumpPath; }

void InstallCrashFilter(const std::string& dumpFolder) {
  std::string folder = dumpFolder.empty() ? platform::ProgramFolder() : dumpFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::string path = NextDumpPath(folder);
  if (path.size() < sizeof g_state.dumpPath) std::memcpy(g_state.dumpPath, path.c_str(), path.size() + 1);
  std::string header = GetProductTitle() + " " + GetVersionString() + " crash dump\n";
  g_state.headerLength = std::min(header.size(), sizeof g_state.header);
  std::memcpy(g_state.header, header.data(), g_state.headerLength);
  // Only the launcher makes the events; without it there is nobody to tell.
  if (!g_state.crashEvent) g_state.crashEvent = NamedEvent::Open(kCrashEventName).release();
#ifdef CORVALE_TEST_HOOKS
  const char* test = std::getenv("CORVALE_TEST_CRASH");
  g_state.faultAgainForTesting = test && std::strcmp(test, "twice") == 0;
#endif
  InstallSignalHandlers();
  platform::SetOutOfMemoryHandler(&OutOfMemoryInUserInterface);
}

unsigned OutOfMemoryMessageId(bool recoverRawFiles) {
  return recoverRawFiles ? corvale::kStringOutOfMemoryWithRaw : kStringMemoryProblem;
}

void OutOfMemoryInUserInterface(size_t) {
  const bool raw = GetRecoveryContext().RecoverRawFiles != 0;
  ShowOnUserInterfaceThread(FormatWithTitle(corvale::LoadText(OutOfMemoryMessageId(raw))));
  LogCaughtException(0xE0000001u, nullptr);
  // With RAW recovery on the launcher starts the program again; otherwise it reports the crash.
  const char* name = raw ? kMemoryCrashEventName : kCrashEventName;
  if (auto event = NamedEvent::Open(name)) {
    event->Set();
    DebugTrace("____---heventName%s", name);
  }
  platform::DefaultOutOfMemoryHandler(0);
}

void CrashWhenTestAsks() {
#ifndef CORVALE_TEST_HOOKS
  // A release build crashes for nobody who asks it to.
  return;
#else
  const char* test = std::getenv("CORVALE_TEST_CRASH");
  if (!test) return;
  if (std::strcmp(test, "segv") == 0 || std::strcmp(test, "twice") == 0) {
    BadMemoryAccess();
  } else if (std::strcmp(test, "oom") == 0) {
    platform::ReportOutOfMemory(size_t{1} << 40);
  }
#endif
}

}  // namespace corvale::app
