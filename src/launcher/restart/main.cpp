// The restart helper QBXRestart, started by the main program after a change of language.
#include <cstdio>
#include <string>

#include "launcher/Restart.h"
#include "platform/ProgramFolder.h"

int main() {
  // It starts the programs beside it, as root too: not from a folder that others could change.
  if (std::string problem = platform::UntrustedExecutableFolderText(); !problem.empty()) {
    std::fprintf(stderr, "QBXRestart: %s\n", problem.c_str());
    return 1;
  }
  return corvale::launcher::RestartMain(corvale::launcher::DefaultRestartSettings());
}
