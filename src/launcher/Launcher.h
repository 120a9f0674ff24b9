#pragma once
// The launcher QBX: the program the user starts. It checks the system and the user's rights,
// refuses a second instance, starts the main program and watches it to its end: it copies the main
// program's log from the shared buffer into the log file, starts it again after it ran out of
// memory and starts the crash report after any other crash.
//
// It meets the main program only through named objects: it holds the loader mutex for its whole
// life (the main program's sign that the launcher is there), makes the two crash events anew for
// each run of the main program, and creates the shared log buffer.

#include <functional>
#include <string>

#include "platform/LauncherProtocol.h"

namespace corvale::launcher {

inline constexpr const char* kLauncherMutexName = "CORVALETARN_Mutex_482913_Halvern";
inline constexpr const char* kMainProgramName = "corvale";
inline constexpr const char* kCrashReportProgramName = "QBXReport";

// String ids of the launcher's texts.
constexpr unsigned kStringProductTitle = 346;
constexpr unsigned kStringAlreadyRunning = 434;
constexpr unsigned kStringNeedsAdministrator = 473;
constexpr unsigned kStringUnsupportedSystem = 474;

struct WatchSettings {
  std::string mainProgram;    // the program to start and watch
  std::string reportProgram;  // the crash report, started after a crash
  std::string logFile;        // replaced at start (added to when keepLog), then filled from the shared buffer
  // Started again by the restart helper after a change of language: the log of the run before goes
  // on in the same file instead of being replaced.
  bool keepLog = false;
  // Longest time between two copies of the shared buffer into the log file.
  int wakeIntervalMs = 5000;
  // After the main program signalled a crash it still writes its last log lines and its dump; the
  // watch gives it this long to end before it restarts it or starts the report, then ends it.
  int crashedProgramGraceMs = 20000;
};

// The programs beside the launcher's executable and the log file in the program folder.
WatchSettings DefaultWatchSettings();

// True when the user may read the machine's disks: root, or a user who can open every whole disk
// for reading (and there is at least one). Disks that cannot be opened for a reason other than
// rights (a drive without a medium) do not count either way.
bool IsUserAdmin();
// The same over a given sysfs block folder and device folder.
bool CanReadMachineDisks(const std::string& sysBlockFolder, const std::string& devFolder);

// Starts the main program and watches it until it ends for good (see the .cpp for the steps).
// Returns the result of the last start: nonzero for success, 0 when the main program could not be
// started, and after a crash the result of starting the crash report.
int LaunchAndWatch(const WatchSettings& settings);

// Starts the crash report and leaves it to run; nonzero when it started.
int StartCrashReport(const std::string& reportProgram);

// What the entry point asks of the world; tests replace these.
struct LauncherServices {
  // Shows `text` with `caption` to the user and returns when it was seen.
  std::function<void(const std::string& text, const std::string& caption)> messageBox;
  std::function<bool()> isUserAdmin = IsUserAdmin;
  // The kernel's name for the operating system ("Linux").
  std::function<std::string()> systemName;
  std::function<int(const WatchSettings&)> launchAndWatch = LaunchAndWatch;
  WatchSettings watch;
};

// The launcher's steps from start to end: 1 when a check refused the start, 0 after the main
// program has been watched to its end.
int LauncherMain(const LauncherServices& services);

// uname's system name.
std::string KernelSystemName();

}  // namespace corvale::launcher
