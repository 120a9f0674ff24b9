#include "launcher/Launcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "launcher/ChildProcess.h"
#include "platform/Allocation.h"
#include "platform/FileMappingLog.h"
#include "platform/Language.h"
#include "platform/Log.h"
#include "platform/NamedEvent.h"
#include "platform/NamedMutex.h"
#include "platform/NamedObjects.h"
#include "platform/ProgramFolder.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"

namespace corvale::launcher {
namespace {

// What ended one wait. The numbers are the positions the trace line reports: the program first,
// then the crash event, then the memory-crash event, the order in which they are checked.
enum class Wake { Ended = 0, Crash = 1, MemoryCrash = 2, Timeout = 3 };

// Waits at most `timeoutMs` for the first of: the program's end, the crash event, the memory-crash
// event. Named semaphores cannot be waited on together with a process, so this looks at each in
// turn every few milliseconds.
Wake WaitAny(ChildProcess& program, NamedEvent* crash, NamedEvent* memoryCrash, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (program.HasEnded()) return Wake::Ended;
    if (crash && crash->TryWait()) return Wake::Crash;
    if (memoryCrash && memoryCrash->TryWait()) return Wake::MemoryCrash;
    auto now = Clock::now();
    if (now >= deadline) return Wake::Timeout;
    std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(20)));
  }
}

// The program signalled a crash but is still running: it is writing its last log lines and its
// dump. Starting the report, or a new instance (which would find the old one's single-instance mutex
// and refuse), must wait until it is gone; copying the log goes on meanwhile. One that does not end
// in time is ended.
template <typename Flush>
void LetCrashedProgramEnd(ChildProcess& program, const WatchSettings& settings, Flush flush) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(settings.crashedProgramGraceMs);
  while (!program.HasEnded()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      program.Kill();
      break;
    }
    program.WaitForEnd(static_cast<int>(std::min<long long>(left, settings.wakeIntervalMs)));
    flush();
  }
  flush();
}

int OpenLogFile(const std::string& path, bool keep) {
  if (path.empty()) return -1;
  return platform::OpenPrivateFile(path, keep ? (O_RDWR | O_CREAT | O_APPEND) : (O_RDWR | O_CREAT | O_TRUNC));
}

}  // namespace

WatchSettings DefaultWatchSettings() {
  WatchSettings settings;
  std::string folder = platform::ExecutableDirectory();
  if (!folder.empty()) {
    settings.mainProgram = folder + kMainProgramName;
    settings.reportProgram = folder + kCrashReportProgramName;
  }
  std::string programFolder = platform::ProgramFolder();
  if (!programFolder.empty()) settings.logFile = programFolder + kLogFileName;
  return settings;
}

bool CanReadMachineDisks(const std::string& sysBlockFolder, const std::string& devFolder) {
  DIR* dir = opendir(sysBlockFolder.c_str());
  if (!dir) return false;
  int readable = 0;
  bool refused = false;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Only disks with hardware behind them: loop, RAM, device-mapper and RAID devices have no
    // "device" link and are not the machine's disks.
    struct stat st {};
    if (stat((sysBlockFolder + "/" + name + "/device").c_str(), &st) != 0) continue;
    std::replace(name.begin(), name.end(), '!', '/');  // sysfs spells "cciss/c0d0" as "cciss!c0d0"
    int fd = open((devFolder + "/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      close(fd);
      ++readable;
    } else if (errno == EACCES || errno == EPERM) {
      refused = true;
      break;
    }
  }
  closedir(dir);
  return !refused && readable > 0;
}

bool IsUserAdmin() { return geteuid() == 0 || CanReadMachineDisks("/sys/block", "/dev"); }

std::string KernelSystemName() {
  struct utsname names {};
  if (uname(&names) != 0) return {};
  return names.sysname;
}

int StartCrashReport(const std::string& reportProgram) {
  // The report runs on its own; the launcher neither waits for it nor ends it.
  std::unique_ptr<ChildProcess> report = ChildProcess::Start(reportProgram, kCrashReportProgramName);
  return report ? 1 : 0;
}

// The steps, for each run of the main program:
//  1. make the crash and memory-crash events anew, start the program;
//  2. wait for the program's end or an event, at most wakeIntervalMs at a time, copying the shared
//     log into the log file after every wait;
//  3. memory-crash event, or an end with the out-of-memory exit status: start the program again;
//     crash event, or an end by a fault signal: start the crash report once the program is gone;
//     a normal end: done.
// A crash event in the very first wait after a memory-crash restart is ignored once: it can come
// from the instance that ran out of memory, which opens the events by name while it dies.
int LaunchAndWatch(const WatchSettings& settings) {
  int logFd = OpenLogFile(settings.logFile, settings.keepLog);
  auto buffer = std::make_unique<CFileMappingLog>(1);
  auto flush = [&] { buffer->FlushToFile(logFd); };
  auto finish = [&](int result) {
    buffer.reset();
    if (logFd >= 0) close(logFd);
    return result;
  };

  bool restartedAfterMemoryCrash = false;
  for (;;) {
    DebugTrace("____---Start Brindleway Data Recovery.");
    // The events exist before the program starts, so that it can find them however early it fails.
    std::unique_ptr<NamedEvent> crash = NamedEvent::CreateNew(kCrashEventName);
    std::unique_ptr<NamedEvent> memoryCrash = NamedEvent::CreateNew(kMemoryCrashEventName);
    std::unique_ptr<ChildProcess> program = ChildProcess::Start(settings.mainProgram, "Corvale");
    if (!program) return finish(0);
    DebugTrace("____---hProcess = %X", static_cast<unsigned>(program->Pid()));
    DebugTrace("____---CrashEvent = %X", crash ? crash->Handle() : 0u);
    DebugTrace("____---MemoryCrashEvent = %X", memoryCrash ? memoryCrash->Handle() : 0u);

    int wakeUps = 0;
    bool restart = false;
    bool report = false;
    auto onCrashEvent = [&] {
      if (restartedAfterMemoryCrash && wakeUps <= 1) {
        restartedAfterMemoryCrash = false;
        return false;  // ignored: wait on
      }
      report = true;
      return true;
    };
    auto onMemoryCrash = [&] {
      wakeUps = 0;
      restartedAfterMemoryCrash = true;
      restart = true;
    };

    Wake wake;
    for (;;) {
      wake = WaitAny(*program, crash.get(), memoryCrash.get(), settings.wakeIntervalMs);
      flush();
      ++wakeUps;
      if (wake == Wake::Timeout) continue;
      DebugTrace("____---Pos = %d", static_cast<int>(wake));
      if (wake == Wake::Crash && !onCrashEvent()) continue;
      if (wake == Wake::MemoryCrash) onMemoryCrash();
      break;
    }

    if (wake != Wake::Ended) {
      LetCrashedProgramEnd(*program, settings, flush);
    } else if (crash && crash->TryWait()) {
      // The program signalled and ended between two looks; the signal still counts.
      onCrashEvent();
    } else if (memoryCrash && memoryCrash->TryWait()) {
      onMemoryCrash();
    } else if (program->Exited() && program->ExitCode() == platform::kOutOfMemoryExitCode) {
      onMemoryCrash();
    } else if (program->EndedByFault()) {
      report = true;
    }
    crash.reset();
    memoryCrash.reset();

    if (restart) continue;
    int result = 1;
    if (report) result = StartCrashReport(settings.reportProgram);
    return finish(result);
  }
}

int LauncherMain(const LauncherServices& services) {
  int32_t languageId = kLanguageEnglish;
  ReadLanguageFromReg(&languageId);
  const IStringTable* language = LoadLanguageLibrary(languageId);
  CRecoveryContext& context = GetRecoveryContext();
  context.LanguageId = languageId;
  context.LanguageModule = language;
  const std::string title = LoadText(kStringProductTitle);

  auto end = [&](int result) {
    context.LanguageModule = nullptr;
    if (language) FreeLanguageLibrary(language);
    return result;
  };
  auto refuse = [&](unsigned text) {
    services.messageBox(LoadText(text), title);
    return end(1);
  };

  std::string system = services.systemName ? services.systemName() : KernelSystemName();
  if (system != "Linux") return refuse(kStringUnsupportedSystem);
  if (!services.isUserAdmin()) return refuse(kStringNeedsAdministrator);

  // Without its locks the launcher could not tell a second instance from none, nor the main program
  // that the launcher is there.
  if (std::string problem = UnusableLockFolderText(); !problem.empty()) {
    services.messageBox(problem, title);
    return end(1);
  }
  NamedMutex instance(kLauncherMutexName, true);
  if (instance.IsValid() && instance.AlreadyExisted()) return refuse(kStringAlreadyRunning);

  // Held until the launcher ends: while it is owned, the main program knows the launcher is there.
  NamedMutex loader(kLoaderMutexName, true);
  services.launchAndWatch(services.watch);
  return end(0);
}

}  // namespace corvale::launcher
