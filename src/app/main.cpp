// The main program Corvale.
#include <sys/stat.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "app/QBXApp.h"
#include "app/SourceDriveQuery.h"
#include "platform/ProgramFolder.h"
#include "ui/UsageStatistics.h"

int main(int argc, char** argv) {
  // What the program writes for itself (log, scan states, settings) is the user's alone.
  umask(077);
  if (std::string problem = platform::UntrustedExecutableFolderText(); !problem.empty()) {
    std::fprintf(stderr, "Corvale: %s\n", problem.c_str());
    return 1;
  }
  InstallSourceDriveQuery();
  corvale::usage::InstallDiskSummary();
  QApplication application(argc, argv);
  CQBXApp app;
  if (!app.InitInstance(argc, argv)) return app.ExitInstance();
  return app.Run();
}
