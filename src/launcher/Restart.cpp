#include "launcher/Restart.h"

#include <chrono>
#include <memory>
#include <thread>

#include "launcher/ChildProcess.h"
#include "launcher/Launcher.h"
#include "platform/LauncherProtocol.h"
#include "platform/Log.h"
#include "platform/NamedMutex.h"
#include "platform/ProgramFolder.h"

namespace corvale::launcher {

RestartSettings DefaultRestartSettings() {
  RestartSettings settings;
  const std::string folder = platform::ExecutableDirectory();
  if (!folder.empty()) {
    settings.mainProgram = folder + kMainProgramName;
    settings.launcherProgram = folder + kLauncherProgramName;
  }
  return settings;
}

int RestartMain(const RestartSettings& settings) {
  // The launcher holds its loader mutex while it runs; asked now, before the main program has
  // closed, the answer tells how the program was started.
  const bool throughLauncher = NamedMutex::Exists(kLoaderMutexName);
  auto stillRunning = [throughLauncher] {
    if (NamedMutex::Exists(kMainInstanceMutexName)) return true;
    return throughLauncher &&
           (NamedMutex::Exists(kLoaderMutexName) || NamedMutex::Exists(kLauncherMutexName));
  };

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(settings.waitLimitMs);
  while (stillRunning()) {
    if (Clock::now() >= deadline) {
      DebugTrace("QBXRestart: the program did not end within %d ms; not restarted", settings.waitLimitMs);
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(settings.pollIntervalMs));
  }

  const std::string& program = throughLauncher ? settings.launcherProgram : settings.mainProgram;
  std::unique_ptr<ChildProcess> started =
      program.empty()   ? nullptr
      : throughLauncher ? ChildProcess::Start(program, kLauncherProgramName, {kRestartedArgument})
                        : ChildProcess::Start(program, "Corvale");
  if (!started) {
    DebugTrace("QBXRestart: cannot start %s", program.c_str());
    return 1;
  }
  return 0;
}

}  // namespace corvale::launcher
