// The main program Corvale.
#include <sys/stat.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/CrashFilter.h"
#include "app/QBXApp.h"
#include "app/SourceDriveQuery.h"
#include "app/UpdateCheck.h"
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
  corvale::app::InstallCrashFilter();
  QApplication application(argc, argv);
  CQBXApp app;
  if (!app.InitInstance(argc, argv)) return app.ExitInstance();
  corvale::app::CrashWhenTestAsks();
  // Once the window shows: the weekly update check, telling only of a newer version.
  QTimer::singleShot(0, [&app] {
    corvale::app::UpdateCheckServices services;
    services.owner = app.MainWindow();
    corvale::app::CheckForNewVersion(true, true, services);
  });
  return app.Run();
}
