#pragma once
// The restart helper QBXRestart: the main program starts it just before it closes itself after a
// change of language. The helper waits until that instance has ended, then starts the program
// again: through the launcher when the launcher was running (it ends with the main program), the
// main program itself otherwise. It finds out both through the named mutexes the two programs hold
// for their whole life, so it needs no arguments.

#include <string>

namespace corvale::launcher {

inline constexpr const char* kRestartProgramName = "QBXRestart";
inline constexpr const char* kLauncherProgramName = "QBX";
// The argument the helper starts the launcher with: the launcher then adds to the log file of the
// run that asked for the restart instead of replacing it.
inline constexpr const char* kRestartedArgument = "--restarted";

struct RestartSettings {
  std::string mainProgram;      // started when the launcher was not running
  std::string launcherProgram;  // started when it was
  // How long the old instances may take to end; after that nothing is started, since a new
  // instance would only find the old one and refuse.
  int waitLimitMs = 60000;
  int pollIntervalMs = 50;
};

// The programs beside the helper's executable.
RestartSettings DefaultRestartSettings();

// Waits for the old instances, then starts the program. 0 when it was started, 1 when the old
// instances did not end in time or the program could not be started.
int RestartMain(const RestartSettings& settings);

}  // namespace corvale::launcher
